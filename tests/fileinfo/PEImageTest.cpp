// Whether bytes hold a whole PE image: the real images of the build (32- and
// 64-bit, drivers, libraries and programs, signed and not), then the same
// images cut, spoilt and given offsets that point anywhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PEImage.h"
#include "TestFiles.h"
#include "WinText.h"

namespace {

const wchar_t* const RealImages[] = {
    L"QVHook32.dll",     L"QVHook64.dll",     L"QVHookDrv32.sys",  L"QVHookDrv64.sys",
    L"QVHookHelper.exe", L"QVHookInst32.exe", L"QVHookInst64.exe",
};

uint32_t Get32(const std::string& ABytes, size_t AOffset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(ABytes.at(AOffset + i)))
                 << (8 * i);
    return value;
}

void Put(std::string& ABytes, size_t AOffset, uint32_t AValue, size_t ASize) {
    for (size_t i = 0; i < ASize; ++i)
        ABytes.at(AOffset + i) = static_cast<char>(AValue >> (8 * i));
}

// Where the parts of a real image are.
struct TLayout {
    explicit TLayout(const std::string& AImage) {
        FileHeader = Get32(AImage, 60) + 4;
        Optional = FileHeader + 20;
        const bool wide = (Get32(AImage, Optional) & 0xFFFF) == 0x20B;
        Directories = Optional + (wide ? 112 : 96);
        Sections = Optional + (Get32(AImage, FileHeader + 16) & 0xFFFF);
        SectionCount = Get32(AImage, FileHeader + 2) & 0xFFFF;
    }
    size_t FileHeader, Optional, Directories, Sections, SectionCount;
};

TEST(PEImage, EveryRealImageIsWholeAndNoCutOneIs) {
    for (const wchar_t* name : RealImages) {
        const std::string image = ReadWholeFile(FixturePath(name));
        ASSERT_GT(image.size(), 1024u) << WideToUtf8(name);
        EXPECT_EQ(CheckPEImage(image), TPEImageFault::pifNone) << WideToUtf8(name);
        EXPECT_TRUE(IsCompletePEImage(image + "bytes after the image"));
        // Every length short of the whole: whatever the last part is (the
        // certificate table, the symbols or a section), it is cut.
        for (const size_t cut : {image.size() - 1, image.size() - 17, image.size() / 2,
                                 size_t{1000}, size_t{300}, size_t{64}, size_t{2}, size_t{0}}) {
            EXPECT_NE(CheckPEImage(std::string_view(image).substr(0, cut)), TPEImageFault::pifNone)
                << WideToUtf8(name) << " cut to " << cut;
        }
    }
    // The signed ones end in their certificate table.
    const std::string signedImage = ReadWholeFile(FixturePath(L"QVHookHelper.exe"));
    const TLayout layout(signedImage);
    const uint32_t certificates = Get32(signedImage, layout.Directories + 4 * 8);
    ASSERT_NE(certificates, 0u);
    EXPECT_EQ(CheckPEImage(std::string_view(signedImage).substr(0, signedImage.size() - 1)),
              TPEImageFault::pifCertificatesCut);
    EXPECT_EQ(CheckPEImage(std::string_view(signedImage).substr(0, certificates + 1)),
              TPEImageFault::pifCertificatesCut);
}

TEST(PEImage, SpoiltAndOverflowingFieldsAreRefused) {
    struct TCase {
        const char* What;
        std::function<void(std::string&, const TLayout&)> Spoil;
        TPEImageFault Fault;
    };
    constexpr uint32_t farOut = 0xFFFFFFFF;
    const TCase cases[] = {
        {"no MZ", [](std::string& b, const TLayout&) { b[0] = 'X'; },
         TPEImageFault::pifNoDOSHeader},
        {"PE header offset farOut out",
         [&](std::string& b, const TLayout&) { Put(b, 60, farOut - 3, 4); },
         TPEImageFault::pifNoPEHeader},
        {"PE header offset at the end",
         [](std::string& b, const TLayout&) { Put(b, 60, static_cast<uint32_t>(b.size() - 4), 4); },
         TPEImageFault::pifNoPEHeader},
        {"no PE signature", [](std::string& b, const TLayout& l) { b[l.FileHeader - 4] = 'N'; },
         TPEImageFault::pifNoPEHeader},
        {"unknown optional header",
         [](std::string& b, const TLayout& l) { Put(b, l.Optional, 0x107, 2); },
         TPEImageFault::pifBadOptionalHeader},
        {"optional header too small for its directories",
         [](std::string& b, const TLayout& l) { Put(b, l.FileHeader + 16, 100, 2); },
         TPEImageFault::pifBadOptionalHeader},
        {"optional header larger than the file",
         [](std::string& b, const TLayout& l) {
             Put(b, l.FileHeader + 16, 0xFFFF, 2);
             b.resize(2000);
         },
         TPEImageFault::pifBadOptionalHeader},
        {"section table past the end",
         [](std::string& b, const TLayout& l) { Put(b, l.FileHeader + 2, 0xFFFF, 2); },
         TPEImageFault::pifHeadersCut},
        {"header size past the end",
         [&](std::string& b, const TLayout& l) { Put(b, l.Optional + 60, farOut, 4); },
         TPEImageFault::pifHeadersCut},
        {"section data farOut out",
         [&](std::string& b, const TLayout& l) {
             Put(b, l.Sections + 16, farOut, 4);
             Put(b, l.Sections + 20, farOut, 4);
         },
         TPEImageFault::pifSectionCut},
        {"last section one byte longer",
         [](std::string& b, const TLayout& l) {
             const size_t last = l.Sections + (l.SectionCount - 1) * 40;
             Put(b, last + 16, static_cast<uint32_t>(b.size()) - Get32(b, last + 20) + 1, 4);
         },
         TPEImageFault::pifSectionCut},
        {"certificate table farOut out",
         [&](std::string& b, const TLayout& l) {
             Put(b, l.Directories + 32, farOut, 4);
             Put(b, l.Directories + 36, farOut, 4);
         },
         TPEImageFault::pifCertificatesCut},
        {"certificate table with a size and no place",
         [](std::string& b, const TLayout& l) {
             Put(b, l.Directories + 32, 0, 4);
             Put(b, l.Directories + 36, 8, 4);
         },
         TPEImageFault::pifCertificatesCut},
        {"symbol table farOut out",
         [&](std::string& b, const TLayout& l) {
             Put(b, l.FileHeader + 8, farOut, 4);
             Put(b, l.FileHeader + 12, farOut, 4);
         },
         TPEImageFault::pifSymbolsCut},
        // The loader reads sixteen directories whatever the count says.
        {"a directory count beyond sixteen",
         [&](std::string& b, const TLayout& l) { Put(b, l.Directories - 4, farOut, 4); },
         TPEImageFault::pifNone},
        {"no directories: no certificate table to look at",
         [&](std::string& b, const TLayout& l) {
             Put(b, l.Directories - 4, 0, 4);
             Put(b, l.Directories + 32, farOut, 4);
             Put(b, l.Directories + 36, farOut, 4);
         },
         TPEImageFault::pifNone},
    };
    for (const wchar_t* name : {L"QVHookInst32.exe", L"QVHookInst64.exe"}) {
        const std::string image = ReadWholeFile(FixturePath(name));
        const TLayout layout(image);
        for (const TCase& c : cases) {
            std::string spoilt = image;
            c.Spoil(spoilt, layout);
            EXPECT_EQ(CheckPEImage(spoilt), c.Fault) << WideToUtf8(name) << ": " << c.What;
        }
    }
}

TEST(PEImage, WhatIsNoImageAtAll) {
    const std::string cases[] = {
        "",
        "MZ",
        std::string(64, '\0'),
        "<html><body>404 Not Found</body></html>",
        std::string("MZ") + std::string(58, '\0') + std::string("\x40\0\0\0", 4) + "PE",
        std::string(100000, '\xFF'),
    };
    for (const std::string& bytes : cases)
        EXPECT_FALSE(IsCompletePEImage(bytes)) << bytes.size() << " bytes";
}

} // namespace
