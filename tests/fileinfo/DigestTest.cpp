// The file digest: known answers through both SHA-1 block functions and
// through files, the two functions against each other, and the files that
// cannot be read.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "FileDigest.h"
#include "Handles.h"
#include "TestFiles.h"

namespace {

const std::wstring EmptyDigest = L"da39a3ee5e6b4b0d3255bfef95601890afd80709";

struct TVector {
    const char* Name;
    std::string Message;
    const wchar_t* Digest;
};

const std::vector<TVector> Vectors = {
    {"empty", "", L"da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"abc", "abc", L"a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"a55", std::string(55, 'a'), L"c1c8bbdc22796e28c0e15163d20899b65621d65a"},
    {"a56", std::string(56, 'a'), L"c2db330f6083854c99d4b5bfb6e8f29f201be699"},
    {"a63", std::string(63, 'a'), L"03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
    {"a64", std::string(64, 'a'), L"0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    {"a65", std::string(65, 'a'), L"11655326c708d70319be2610e8a57d9a5b959d3b"},
    {"fips448", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     L"84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"millionA", std::string(1000000, 'a'), L"34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
};

struct TBlockFunction {
    const char* Name;
    TSha1BlockFunction Function;
    bool Available;
};

std::vector<TBlockFunction> BlockFunctions() {
    return {{"portable", Sha1BlocksPortable, true},
            {"shaNi", Sha1BlocksShaNi, ProcessorHasShaExtensions()}};
}

// Digests AMessage fed in pieces of the given sizes (the rest in one piece).
TFileDigest DigestInPieces(TSha1BlockFunction ABlocks, const std::string& AMessage,
                           const std::vector<size_t>& APieces = {}) {
    TSha1 sha1(ABlocks);
    size_t done = 0;
    for (size_t piece : APieces) {
        piece = std::min(piece, AMessage.size() - done);
        sha1.Update(AMessage.data() + done, piece);
        done += piece;
    }
    sha1.Update(AMessage.data() + done, AMessage.size() - done);
    return sha1.Finish();
}

std::wstring DigestTextOfFile(const std::wstring& APath) {
    TFileDigest digest;
    digest.fill(0xEE);
    DigestFile(APath, digest);
    return DigestToText(digest);
}

class BlockFunction : public ::testing::TestWithParam<TBlockFunction> {
protected:
    void SetUp() override {
        if (!GetParam().Available)
            GTEST_SKIP() << "the processor has no SHA extensions";
    }
};

TEST_P(BlockFunction, GivesTheKnownAnswersWholeAndInPieces) {
    for (const TVector& vector : Vectors) {
        SCOPED_TRACE(vector.Name);
        EXPECT_EQ(DigestToText(DigestInPieces(GetParam().Function, vector.Message)), vector.Digest);
        EXPECT_EQ(DigestToText(DigestInPieces(GetParam().Function, vector.Message, {1, 62, 3, 64})),
                  vector.Digest);
    }
}

INSTANTIATE_TEST_SUITE_P(Sha1, BlockFunction, ::testing::ValuesIn(BlockFunctions()),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(FileDigest, TheBlockFunctionsAgreeOnRandomMessagesAndFiles) {
    if (!ProcessorHasShaExtensions())
        GTEST_SKIP() << "the processor has no SHA extensions";
    EXPECT_EQ(FastestSha1Blocks(), &Sha1BlocksShaNi);
    std::mt19937 random(20240607);
    TScratchFolder folder;
    for (int round = 0; round < 40; ++round) {
        const size_t size = round < 20 ? random() % 300 : random() % (3 << 20);
        std::string message(size, '\0');
        for (char& c : message)
            c = static_cast<char>(random());
        const std::vector<size_t> pieces = {random() % 200, random() % 5000, random() % 70};
        SCOPED_TRACE(size);
        const std::wstring portable = DigestToText(DigestInPieces(Sha1BlocksPortable, message));
        EXPECT_EQ(DigestToText(DigestInPieces(Sha1BlocksShaNi, message, pieces)), portable);
        EXPECT_EQ(DigestTextOfFile(folder.Write(L"random.bin", message)), portable);
    }
}

TEST(FileDigest, FilesGiveTheKnownAnswers) {
    TScratchFolder folder;
    for (const TVector& vector : Vectors) {
        SCOPED_TRACE(vector.Name);
        EXPECT_EQ(DigestTextOfFile(folder.Write(L"vector.bin", vector.Message)), vector.Digest);
    }
}

TEST(FileDigest, FilesThatCannotBeReadGiveTheEmptyInputDigest) {
    TScratchFolder folder;
    EXPECT_EQ(DigestTextOfFile(folder.Path() + L"missing.bin"), EmptyDigest);
    EXPECT_EQ(DigestTextOfFile(folder.Write(L"empty.bin", "")), EmptyDigest);
    EXPECT_EQ(DigestTextOfFile(folder.Path()), EmptyDigest); // a folder

    const std::wstring locked = folder.Write(L"locked.bin", "abc");
    TFileHandle exclusive(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(DigestTextOfFile(locked), EmptyDigest);
}

TEST(FileDigest, AFileOpenForWritingWithSharingIsDigestedAsItIsNow) {
    TScratchFolder folder;
    const std::wstring path = folder.Write(L"growing.bin", "ab");
    TFileHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(DigestTextOfFile(path), L"da23614e02469a0d7c7bd1bdab5c9c474b1904dc"); // "ab"
    ::SetFilePointer(writer.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(writer.get(), "c", 1, &written, nullptr));
    EXPECT_EQ(DigestTextOfFile(path), L"a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(FileDigest, TextIsFortyLowerCaseDigitsHighNibbleFirst) {
    TFileDigest digest;
    for (size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<std::uint8_t>(i * 13 + 0x0F);
    EXPECT_EQ(DigestToText(digest), L"0f1c293643505d6a7784919eabb8c5d2dfecf906");
    digest.fill(0xAB);
    std::wstring expected;
    for (int i = 0; i < 20; ++i)
        expected += L"ab";
    EXPECT_EQ(DigestToText(digest), expected);
}

// Under Wine a Unix program can cut a file short behind a mapping, as a
// vanished network share does on Windows: the next read of the view faults.
using TWineGetUnixFileName = char*(CDECL*)(LPCWSTR);

bool CutFileShort(const std::wstring& APath, size_t ASize) {
    auto unixName = reinterpret_cast<TWineGetUnixFileName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixName)
        return false;
    // Wine hands the name out on the process heap.
    const TProcessHeapMemory name(unixName(APath.c_str()));
    if (!name)
        return false;
    std::wstring commandLine = L"truncate -s " + std::to_wstring(ASize) + L" ";
    for (const char* c = static_cast<const char*>(name.get()); *c; ++c)
        commandLine += static_cast<wchar_t>(*c);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(L"Z:\\usr\\bin\\truncate", commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &process))
        return false;
    TKernelHandle processHandle(process.hProcess), thread(process.hThread);
    // Wine hands out no waitable handle for a Unix process: watch the file.
    for (int wait = 0; wait < 500; ++wait) {
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        if (::GetFileAttributesExW(APath.c_str(), GetFileExInfoStandard, &attributes) &&
            attributes.nFileSizeHigh == 0 && attributes.nFileSizeLow == ASize)
            return true;
        ::Sleep(20);
    }
    return false;
}

TEST(FileDigest, AViewWhoseFileVanishesWhileReadIsDroppedNotACrash) {
    TScratchFolder folder;
    const std::wstring path = folder.Write(L"vanishing.bin", std::string(8 << 20, 'v'));
    TFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    TKernelHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    TMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_TRUE(view);
    if (!CutFileShort(path, 3 << 20))
        GTEST_SKIP() << "no way to cut a mapped file short here";

    TSha1 sha1;
    EXPECT_FALSE(DigestMappedView(view, 8 << 20, sha1));
    EXPECT_FALSE(view);
    // The process goes on, and the file as it is now digests normally.
    EXPECT_EQ(DigestTextOfFile(path),
              DigestToText(DigestInPieces(FastestSha1Blocks(), std::string(3 << 20, 'v'))));
}

// Takes some 15 s, most of it the system filling 4 GiB of page cache with
// zeros: run it with --gtest_also_run_disabled_tests.
TEST(FileDigest, DISABLED_AFileOfFourGibibytesAndMoreIsDigestedWhole) {
    TScratchFolder folder;
    const std::wstring path = folder.Write(L"large.bin", "");
    {
        // Sparse where the file system allows: 4 GiB of zeros, then "abc".
        TFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER offset;
        offset.QuadPart = 1LL << 32;
        ASSERT_TRUE(::SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN));
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), "abc", 3, &written, nullptr));
    }
    if (sizeof(void*) < 8)
        GTEST_SKIP() << "no address space for the view";
    EXPECT_EQ(DigestTextOfFile(path), L"eee321e1de4be0ec5d7943620e0b079b7537c6fd");
}

} // namespace
