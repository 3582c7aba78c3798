// Whether bytes hold a whole PE image: the real images of the build (32- and
// 64-bit, drivers, libraries and programs, signed and not), then the same
// images cut, spoilt, given offsets that point anywhere or bytes after them;
// and which of them may take the place of which.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fileinfo/PEImage.h"
#include "platform/WinText.h"
#include "tests/support/TestBuilds.h"
#include "tests/support/TestFiles.h"

namespace {

const wchar_t* const RealImages[] = {
    L"QVHook32.dll",     L"QVHook64.dll",     L"QVHookDrv32.sys",  L"QVHookDrv64.sys",
    L"QVHookHelper.exe", L"QVHookInst32.exe", L"QVHookInst64.exe",
};

uint32_t Get32(const std::string& ABytes, size_t AOffset) {
    return GetField(ABytes, AOffset);
}

void Put(std::string& ABytes, size_t AOffset, uint32_t AValue, size_t ASize) {
    PutField(ABytes, AOffset, AValue, ASize);
}

using TLayout = TImageLayout;

TEST(PEImage, EveryRealImageIsWholeAndNoCutOneIs) {
    for (const wchar_t* name : RealImages) {
        const std::string image = ReadWholeFile(FixturePath(name));
        ASSERT_GT(image.size(), 1024u) << WideToUtf8(name);
        EXPECT_EQ(CheckPEImage(image), TPEImageFault::pifNone) << WideToUtf8(name);
        // What follows the body (an overlay, a build's label, the start of
        // the next answer) is no part of the image.
        EXPECT_EQ(CheckPEImage(image + "bytes after the image"), TPEImageFault::pifTrailingBytes)
            << WideToUtf8(name);
        EXPECT_EQ(CheckPEImage(image + '\0'), TPEImageFault::pifTrailingBytes) << WideToUtf8(name);
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

// A certificate table whose size leaves out its padding may be followed by
// the padding to its 8-byte alignment, and by nothing more.
TEST(PEImage, OnlyTheCertificateTableIsFollowedByItsPadding) {
    const std::string image = ReadWholeFile(FixturePath(L"QVHookInst32.exe"));
    const TLayout layout(image);
    ASSERT_EQ(Get32(image, layout.Directories + 4 * 8), 0u) << "an unsigned image";
    ASSERT_EQ(image.size() % 8, 0u);
    for (const uint32_t size : {1u, 5u, 8u, 13u}) {
        std::string withTable = image + std::string(size, 'c');
        Put(withTable, layout.Directories + 4 * 8, static_cast<uint32_t>(image.size()), 4);
        Put(withTable, layout.Directories + 4 * 8 + 4, size, 4);
        const size_t padded = (size + 7) / 8 * 8;
        EXPECT_EQ(CheckPEImage(withTable), TPEImageFault::pifNone) << size;
        EXPECT_EQ(CheckPEImage(withTable + std::string(padded - size, '\0')),
                  TPEImageFault::pifNone)
            << size;
        EXPECT_EQ(CheckPEImage(withTable + std::string(padded - size + 1, '\0')),
                  TPEImageFault::pifTrailingBytes)
            << size;
    }
    // A section's data is not padded beyond its declared size.
    std::string padded = image + std::string(8, '\0');
    EXPECT_EQ(CheckPEImage(padded), TPEImageFault::pifTrailingBytes);
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
             // Nor a signature's bytes to end the image with.
             if (const uint32_t certificates = Get32(b, l.Directories + 32))
                 b.resize(certificates);
             Put(b, l.Directories - 4, 0, 4);
             Put(b, l.Directories + 32, farOut, 4);
             Put(b, l.Directories + 36, farOut, 4);
         },
         TPEImageFault::pifNone},
        {"headers only: no sections",
         [](std::string& b, const TLayout& l) {
             Put(b, l.FileHeader + 2, 0, 2);
             Put(b, l.Directories + 32, 0, 4);
             Put(b, l.Directories + 36, 0, 4);
             b.resize(Get32(b, l.Optional + 60));
         },
         TPEImageFault::pifNoSectionData},
        {"sections without data",
         [](std::string& b, const TLayout& l) {
             for (size_t i = 0; i < l.SectionCount; ++i)
                 Put(b, l.Sections + i * 40 + 16, 0, 4);
         },
         TPEImageFault::pifNoSectionData},
        {"an image size far beyond its sections",
         [](std::string& b, const TLayout& l) { Put(b, l.Optional + 56, farOut, 4); },
         TPEImageFault::pifBadImageSize},
        {"an image size one alignment beyond its sections",
         [](std::string& b, const TLayout& l) {
             Put(b, l.Optional + 56, Get32(b, l.Optional + 56) + Get32(b, l.Optional + 32), 4);
         },
         TPEImageFault::pifBadImageSize},
        {"an image size short of its last section",
         [](std::string& b, const TLayout& l) {
             const size_t last = l.Sections + (l.SectionCount - 1) * 40;
             Put(b, l.Optional + 56, Get32(b, last + 12) + Get32(b, last + 8) - 1, 4);
         },
         TPEImageFault::pifBadImageSize},
        {"no section alignment",
         [](std::string& b, const TLayout& l) { Put(b, l.Optional + 32, 0, 4); },
         TPEImageFault::pifBadImageSize},
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

TEST(PEImage, EachRealImageIsOfItsKind) {
    constexpr uint16_t i386 = 0x14C, amd64 = 0x8664;
    struct TCase {
        const wchar_t* Name;
        TPEImageKind Kind;
    };
    // The stand-in drivers are linked as shared images: libraries of the
    // native subsystem.
    const TCase cases[] = {
        {L"QVHook32.dll", {i386, true, false}},       {L"QVHook64.dll", {amd64, true, false}},
        {L"QVHookDrv32.sys", {i386, true, true}},     {L"QVHookDrv64.sys", {amd64, true, true}},
        {L"QVHookHelper.exe", {amd64, false, false}}, {L"QVHookInst32.exe", {i386, false, false}},
        {L"QVHookInst64.exe", {amd64, false, false}},
    };
    for (const TCase& c : cases) {
        const std::string image = ReadWholeFile(FixturePath(c.Name));
        EXPECT_EQ(PEImageKind(image), c.Kind) << WideToUtf8(c.Name);
        // The headers alone tell it.
        EXPECT_EQ(PEImageKind(std::string_view(image).substr(0, 1024)), c.Kind)
            << WideToUtf8(c.Name);
    }
    EXPECT_EQ(PEImageKind(""), std::nullopt);
    EXPECT_EQ(PEImageKind("<html>404</html>"), std::nullopt);
    EXPECT_EQ(
        PEImageKind(std::string_view(ReadWholeFile(FixturePath(L"QVHook64.dll"))).substr(0, 100)),
        std::nullopt);
}

// Every real image in the place of every other: only one of the same kind
// may take it; where no image is installed, any whole one may.
TEST(PEImage, OnlyAnImageOfTheSameKindReplacesAnother) {
    std::vector<std::string> images;
    for (const wchar_t* name : RealImages)
        images.push_back(ReadWholeFile(FixturePath(name)));
    for (size_t n = 0; n < images.size(); ++n) {
        for (size_t i = 0; i < images.size(); ++i) {
            const bool sameKind = PEImageKind(images[n]) == PEImageKind(images[i]);
            EXPECT_EQ(CheckReplacementImage(images[n], images[i]),
                      sameKind ? TPEImageFault::pifNone : TPEImageFault::pifOtherKind)
                << WideToUtf8(RealImages[n]) << " for " << WideToUtf8(RealImages[i]);
        }
        for (const std::string& installed :
             {std::string(), std::string("a text file"), images[n].substr(0, 60)})
            EXPECT_EQ(CheckReplacementImage(images[n], installed), TPEImageFault::pifNone)
                << WideToUtf8(RealImages[n]) << " for " << installed.size() << " bytes";
        // What is no whole image is refused for what it is, not for its kind.
        EXPECT_EQ(CheckReplacementImage(images[n] + "x", images[n]),
                  TPEImageFault::pifTrailingBytes);
    }
    // Each measure of kind on its own: the machine, a library, a driver.
    const std::string library = images[1]; // QVHook64.dll
    const TLayout layout(library);
    const std::function<void(std::string&)> changes[] = {
        [&](std::string& b) { Put(b, layout.FileHeader, 0xAA64, 2); },
        [&](std::string& b) {
            Put(b, layout.FileHeader + 18, Get32(b, layout.FileHeader + 18) & 0xDFFF, 2);
        },
        [&](std::string& b) { Put(b, layout.Optional + 68, 1, 2); },
    };
    for (const auto& change : changes) {
        std::string other = library;
        change(other);
        EXPECT_EQ(CheckPEImage(other), TPEImageFault::pifNone);
        EXPECT_EQ(CheckReplacementImage(other, library), TPEImageFault::pifOtherKind);
        EXPECT_EQ(CheckReplacementImage(library, other), TPEImageFault::pifOtherKind);
    }
}

} // namespace
