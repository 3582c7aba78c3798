// Whether bytes hold a whole PE image: the real images of the build (32- and
// 64-bit, drivers, libraries and programs, signed and not), then the same
// images cut, spoilt, given offsets that point anywhere or bytes after them;
// and which of them may take the place of which.
#include <gtest/gtest.h>

#include <algorithm>
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
        // Zeros up to the file alignment are padding; beyond it they are not.
        const uint32_t alignment = Get32(image, TLayout(image).Optional + 36);
        const bool aligned = image.size() % alignment == 0;
        EXPECT_EQ(CheckPEImage(image + '\0'),
                  aligned ? TPEImageFault::pifTrailingBytes : TPEImageFault::pifNone)
            << WideToUtf8(name);
        EXPECT_EQ(CheckPEImage(image + std::string(alignment, '\0')),
                  TPEImageFault::pifTrailingBytes)
            << WideToUtf8(name);
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
// the padding to its 8-byte alignment, of any bytes; beyond it only by zeros
// up to the file alignment, as after any last part of an image.
TEST(PEImage, OnlyPaddingFollowsTheCertificateTable) {
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
        EXPECT_EQ(CheckPEImage(withTable + std::string(padded - size, 'p')), TPEImageFault::pifNone)
            << size;
        EXPECT_EQ(CheckPEImage(withTable + std::string(padded - size, '\0') + "x"),
                  TPEImageFault::pifTrailingBytes)
            << size;
        const uint32_t alignment = Get32(image, layout.Optional + 36);
        const size_t toAlignment = (alignment - (image.size() + padded) % alignment) % alignment;
        EXPECT_EQ(CheckPEImage(withTable + std::string(padded - size + toAlignment, '\0')),
                  TPEImageFault::pifNone)
            << size;
        EXPECT_EQ(CheckPEImage(withTable + std::string(padded - size + toAlignment + 1, '\0')),
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

// Every real image in the place of every file: only one that suits the
// file's kind may take it. A driver's library mark is not looked at: the
// stand-in drivers have one (GNU ld marks the drivers it links so), the
// kinds of driver files have none.
TEST(PEImage, OnlyAnImageOfTheFilesKindReplacesIt) {
    constexpr uint16_t amd64 = 0x8664, i386 = 0x14C;
    const auto roleOf = [](TPEImageKind AKind) {
        if (AKind.Driver)
            AKind.Library = false;
        return AKind;
    };
    for (const wchar_t* image : RealImages) {
        const std::string bytes = ReadWholeFile(FixturePath(image));
        const TPEImageKind kind = PEImageKind(bytes).value_or(TPEImageKind{});
        for (const wchar_t* file : RealImages) {
            const TPEImageKind role = roleOf(PEImageKind(ReadWholeFile(FixturePath(file))).value());
            EXPECT_EQ(CheckReplacementImage(bytes, role),
                      roleOf(kind) == role ? TPEImageFault::pifNone : TPEImageFault::pifOtherKind)
                << WideToUtf8(image) << " for " << WideToUtf8(file);
        }
        // What is no whole image is refused for what it is, not for its kind.
        EXPECT_EQ(CheckReplacementImage(bytes + "x", kind), TPEImageFault::pifTrailingBytes);
        EXPECT_EQ(CheckReplacementImage("<html>404</html>", kind), TPEImageFault::pifNoDOSHeader);
    }
    // Each measure of kind on its own: the machine, a library, a driver; and
    // a driver not marked as a library is still a driver.
    const std::string library = ReadWholeFile(FixturePath(L"QVHook64.dll"));
    const std::string driver = ReadWholeFile(FixturePath(L"QVHookDrv64.sys"));
    const TLayout layout(library), driverLayout(driver);
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
        EXPECT_EQ(CheckReplacementImage(other, {amd64, true, false}), TPEImageFault::pifOtherKind);
    }
    std::string unmarked = driver;
    Put(unmarked, driverLayout.FileHeader + 18,
        Get32(unmarked, driverLayout.FileHeader + 18) & 0xDFFF, 2);
    EXPECT_EQ(CheckReplacementImage(unmarked, {amd64, false, true}), TPEImageFault::pifNone);
    EXPECT_EQ(CheckReplacementImage(unmarked, {i386, false, true}), TPEImageFault::pifOtherKind);
}

// Where the last part of an image ends in the file: its sections' data, its
// symbol and string tables, its certificate table; padding comes after it.
size_t BodyEnd(const std::string& AImage) {
    const TLayout layout(AImage);
    size_t end = 0;
    for (size_t i = 0; i < layout.SectionCount; ++i) {
        const size_t header = layout.Sections + i * 40;
        if (const uint32_t size = Get32(AImage, header + 16))
            end = std::max<size_t>(end, Get32(AImage, header + 20) + size);
    }
    if (const uint32_t symbols = Get32(AImage, layout.FileHeader + 8)) {
        const size_t strings = symbols + size_t{Get32(AImage, layout.FileHeader + 12)} * 18;
        end = std::max<size_t>(end, strings + std::max<uint32_t>(Get32(AImage, strings), 4));
    }
    if (const uint32_t certificates = Get32(AImage, layout.Directories + 32))
        end = std::max<size_t>(end, certificates + Get32(AImage, layout.Directories + 36));
    return end;
}

// The same library (and a program) as each linker here lays it out, with
// and without debug information, stripped, signed: each whole, however it
// ends. LLVM's lld pads the file to its file alignment after the string
// table; the padding may be cut off, but nothing else may follow or be cut.
TEST(PEImage, WhatRealLinkersMakeIsWhole) {
    const wchar_t* const linked[] = {
        L"gnu-x64.dll",           L"gnu-x64-g.dll",         L"gnu-x64-s.dll",
        L"gnu-x86-g.dll",         L"gnu-x64-g-signed.dll",  L"lld-x64.dll",
        L"lld-x64-g.dll",         L"lld-x86.dll",           L"lld-x86-g.dll",
        L"lld-x64.exe",           L"lld-x64-g-signed.dll",  L"lldlink-x64.dll",
        L"lldlink-x64-debug.dll", L"lldlink-x64-dwarf.dll",
    };
    size_t padded = 0;
    for (const wchar_t* name : linked) {
        const std::string image = ReadWholeFile(FixturePath(std::wstring(L"linkers\\") + name));
        ASSERT_FALSE(image.empty()) << WideToUtf8(name);
        const std::string what = WideToUtf8(name);
        EXPECT_EQ(CheckPEImage(image), TPEImageFault::pifNone) << what;
        const TLayout layout(image);
        const uint32_t alignment = Get32(image, layout.Optional + 36);
        const size_t end = BodyEnd(image);
        ASSERT_LE(end, image.size()) << what;
        if (image.size() > end) {
            ++padded;
            EXPECT_EQ(image.size() % alignment, 0u) << what;
            EXPECT_EQ(CheckPEImage(image.substr(0, end)), TPEImageFault::pifNone) << what;
            EXPECT_EQ(CheckPEImage(image.substr(0, (end + image.size()) / 2)),
                      TPEImageFault::pifNone)
                << what;
            std::string spoilt = image;
            spoilt.back() = 'p';
            EXPECT_EQ(CheckPEImage(spoilt), TPEImageFault::pifTrailingBytes) << what;
        }
        EXPECT_NE(CheckPEImage(image.substr(0, end - 1)), TPEImageFault::pifNone) << what;
        EXPECT_EQ(CheckPEImage(image + "x"), TPEImageFault::pifTrailingBytes) << what;
        EXPECT_EQ(CheckPEImage(image + std::string(alignment, '\0')),
                  TPEImageFault::pifTrailingBytes)
            << what;
    }
    // lld's images with a symbol table, unsigned, end in padding: those of
    // the MinGW driver, and lld-link's with DWARF.
    EXPECT_EQ(padded, 6u);
}

} // namespace
