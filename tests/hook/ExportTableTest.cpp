#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "hook/ExportTable.h"
#include "platform/Handles.h"
#include "platform/WinText.h"

namespace {

std::vector<uint8_t> ReadWholeFile(const std::wstring& APath) {
    std::vector<uint8_t> bytes;
    const TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size))
        return bytes;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        read = 0;
    bytes.resize(read);
    return bytes;
}

// The kernel32 files: the x64 one of the system, and the 32-bit x86 one as
// Wine installs it. The prefix's own 32-bit copy exists only where the kernel
// can run 32-bit programs; Wine's installed file is there on every machine.
std::wstring Kernel32File(bool A32Bit) {
    if (A32Bit)
        return Utf8ToWide(DERODO_WINE_I386_KERNEL32);
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\kernel32.dll";
}

// kernel32 as loaded in this process, read where it lies.
TImageReader OwnKernel32(const uint8_t*& ABase) {
    ABase = reinterpret_cast<const uint8_t*>(::GetModuleHandleW(L"kernel32.dll"));
    // The headers first, to learn the size of the image.
    const uint32_t ntOffset = *reinterpret_cast<const uint32_t*>(ABase + 0x3C);
    const uint32_t sizeOfImage = *reinterpret_cast<const uint32_t*>(ABase + ntOffset + 24 + 56);
    return LoadedImageReader(ABase, sizeOfImage);
}

TEST(ExportTable, FindsWhatTheLoaderFindsInTheLoadedKernel32) {
    const uint8_t* base = nullptr;
    const TImageReader image = OwnKernel32(base);
    TImageHeaders headers;
    ASSERT_TRUE(ReadImageHeaders(image, headers));
    EXPECT_EQ(headers.Machine, PEMachineAMD64);
    EXPECT_TRUE(headers.Is64Bit);
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    for (const char* name : {"LoadLibraryW", "FreeLibrary", "IsWow64Process2", "lstrlenW"}) {
        const TExport found = FindExport(image, name);
        ASSERT_EQ(found.Kind, ekAddress) << name;
        EXPECT_EQ(base + found.Rva,
                  reinterpret_cast<const uint8_t*>(::GetProcAddress(kernel32, name)))
            << name;
    }
}

struct TImageCase {
    const char* Name;
    bool Is32Bit;
};

class RealKernel32 : public testing::TestWithParam<TImageCase> {};

TEST_P(RealKernel32, AddressesForwardersAndMissingNames) {
    const bool is32Bit = GetParam().Is32Bit;
    const std::vector<uint8_t> file = ReadWholeFile(Kernel32File(is32Bit));
    ASSERT_FALSE(file.empty()) << WideToUtf8(Kernel32File(is32Bit));
    const TImageReader image = FileImageReader(file.data(), file.size());

    TImageHeaders headers;
    ASSERT_TRUE(ReadImageHeaders(image, headers));
    EXPECT_EQ(headers.Machine, is32Bit ? PEMachineI386 : PEMachineAMD64);
    EXPECT_EQ(headers.Is64Bit, !is32Bit);

    const TExport loadLibrary = FindExport(image, "LoadLibraryW");
    EXPECT_EQ(loadLibrary.Kind, ekAddress);
    EXPECT_NE(loadLibrary.Rva, 0u);
    EXPECT_EQ(FindExport(image, "FreeLibrary").Kind, ekAddress);
    if (!is32Bit) {
        // The file and the loaded image agree.
        const uint8_t* base = nullptr;
        EXPECT_EQ(loadLibrary.Rva, FindExport(OwnKernel32(base), "LoadLibraryW").Rva);
    }

    const TExport forwarded = FindExport(image, "EnterCriticalSection");
    EXPECT_EQ(forwarded.Kind, ekForwarded);
    TForwarder forwarder;
    ASSERT_TRUE(SplitForwarder(forwarded.Forwarder, forwarder)) << forwarded.Forwarder;
    EXPECT_EQ(_stricmp(forwarder.ModuleFile.c_str(), "ntdll.dll"), 0) << forwarder.ModuleFile;
    EXPECT_EQ(forwarder.Name, "RtlEnterCriticalSection");

    for (const char* missing :
         {"LoadLibraryX", "LoadLibrary", "LoadLibraryWW", "", "\x7F", "AAAAAAAA", "zzzzzzzz"})
        EXPECT_EQ(FindExport(image, missing).Kind, ekNone) << missing;
}

INSTANTIATE_TEST_SUITE_P(Images, RealKernel32,
                         testing::Values(TImageCase{"X64", false}, TImageCase{"I386", true}),
                         [](const testing::TestParamInfo<TImageCase>& AInfo) {
                             return std::string(AInfo.param.Name);
                         });

void Put32(std::vector<uint8_t>& AImage, size_t AOffset, uint32_t AValue) {
    std::memcpy(AImage.data() + AOffset, &AValue, sizeof(AValue));
}

TEST(ExportTable, DamagedImagesFindNothingAndReadNothingOutside) {
    const uint8_t* base = nullptr;
    const TImageReader own = OwnKernel32(base);
    TImageHeaders headers;
    ASSERT_TRUE(ReadImageHeaders(own, headers));
    // A copy of the loaded image that can be damaged.
    const uint32_t ntOffset = *reinterpret_cast<const uint32_t*>(base + 0x3C);
    const uint32_t sizeOfImage = *reinterpret_cast<const uint32_t*>(base + ntOffset + 24 + 56);
    const std::vector<uint8_t> intact(base, base + sizeOfImage);
    const size_t exportDirectory = headers.ExportRva;
    const size_t dataDirectory = ntOffset + 24 + 112;

    const struct {
        const char* Name;
        size_t Offset;
        uint32_t Value;
    } damages[] = {
        {"header offset beyond the image", 0x3C, 0xFFFFFFF0},
        {"no PE signature", ntOffset, 0x00004551},
        {"export directory beyond the image", dataDirectory, 0xFFFFFF00},
        {"export directory too small", dataDirectory + 4, 8},
        {"name table beyond the image", exportDirectory + 32, 0xFFFFFFF0},
        {"huge name count", exportDirectory + 24, 0xFFFFFFFF},
        {"function table beyond the image", exportDirectory + 28, 0x7FFFFFF0},
    };
    for (const auto& damage : damages) {
        std::vector<uint8_t> image = intact;
        Put32(image, damage.Offset, damage.Value);
        const TImageReader reader = LoadedImageReader(image.data(), image.size());
        EXPECT_EQ(FindExport(reader, "LoadLibraryW").Kind, ekNone) << damage.Name;
    }
    // Cut short anywhere, the image yields nothing or the right answer.
    const TExport whole =
        FindExport(LoadedImageReader(intact.data(), intact.size()), "FreeLibrary");
    for (size_t size = 0; size < intact.size(); size += 4093) {
        const TExport cut = FindExport(LoadedImageReader(intact.data(), size), "FreeLibrary");
        EXPECT_TRUE(cut.Kind == ekNone || cut.Rva == whole.Rva) << size;
    }
}

TEST(ExportTable, ForwardersNameAModuleAndANameOrAnOrdinal) {
    const struct {
        const char* Forwarder;
        bool Valid;
        const char* ModuleFile;
        const char* Name;
        uint32_t Ordinal;
    } cases[] = {
        {"NTDLL.RtlEnterCriticalSection", true, "NTDLL.dll", "RtlEnterCriticalSection", 0},
        {"api-ms-win-core-file-l1-1-0.CreateFileW", true, "api-ms-win-core-file-l1-1-0.dll",
         "CreateFileW", 0},
        {"krnl386.exe16.VxDCall0", true, "krnl386.exe16", "VxDCall0", 0},
        {"WS2_32.#23", true, "WS2_32.dll", "", 23},
        {"WS2_32.#", false, "", "", 0},
        {"WS2_32.#70000", false, "", "", 0},
        {"WS2_32.#1x", false, "", "", 0},
        {"NoDot", false, "", "", 0},
        {".Name", false, "", "", 0},
        {"Module.", false, "", "", 0},
    };
    for (const auto& c : cases) {
        TForwarder forwarder;
        ASSERT_EQ(SplitForwarder(c.Forwarder, forwarder), c.Valid) << c.Forwarder;
        if (!c.Valid)
            continue;
        EXPECT_EQ(forwarder.ModuleFile, c.ModuleFile) << c.Forwarder;
        EXPECT_EQ(forwarder.Name, c.Name) << c.Forwarder;
        EXPECT_EQ(forwarder.Ordinal, c.Ordinal) << c.Forwarder;
    }
}

} // namespace
