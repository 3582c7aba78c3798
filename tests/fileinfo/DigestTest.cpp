// The file digest: known answers through both SHA-1 block functions and
// through files, the two functions against each other, and the files that
// cannot be read.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fileinfo/FileDigest.h"
#include "fileinfo/FileSha256.h"
#include "platform/Handles.h"
#include "tests/support/TestFiles.h"

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

// The file's digest text, or "error <code>" when it cannot be read.
std::wstring DigestTextOfFile(const std::wstring& APath) {
    TFileDigest digest;
    digest.fill(0xEE);
    DWORD error = 0xEEEE;
    if (!DigestFile(APath, digest, error)) {
        EXPECT_EQ(digest, TFileDigest{}) << "a failure leaves no digest";
        return L"error " + std::to_wstring(error);
    }
    EXPECT_EQ(error, ERROR_SUCCESS);
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

// A file that cannot be read is a failure with the system's reason, never a
// digest; an empty file is read whole and has the digest of empty input.
TEST(FileDigest, AFileThatCannotBeReadFailsWithItsReasonAndAnEmptyFileDigests) {
    TScratchFolder folder;
    const std::wstring locked = folder.Write(L"locked.bin", "abc");
    TFileHandle exclusive(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(exclusive);
    const struct {
        const char* Name;
        std::wstring Path;
        std::wstring Expected;
    } cases[] = {
        {"missing", folder.Path() + L"missing.bin", L"error 2"},
        {"in a missing folder", folder.Path() + L"none\\missing.bin", L"error 3"},
        {"held open without sharing", locked, L"error 32"},
        {"a folder", folder.Path(), L"error 5"},
        {"empty", folder.Write(L"empty.bin", ""), EmptyDigest},
    };
    for (const auto& row : cases)
        EXPECT_EQ(DigestTextOfFile(row.Path), row.Expected) << row.Name;
}

// Read ahead by a second thread, a view gives the digest it gives read alone.
TEST(FileDigest, ALargeFileReadAheadGivesTheDigestOfItsContent) {
    std::mt19937 random(20240611);
    std::string content(ViewReadAheadMinimum * 2 + 12345, '\0');
    for (char& c : content)
        c = static_cast<char>(random());
    TScratchFolder folder;
    EXPECT_EQ(DigestTextOfFile(folder.Write(L"large.bin", content)),
              DigestToText(DigestInPieces(FastestSha1Blocks(), content)));
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

// Below and above the size that gets a read-ahead: with it, the hash and its
// read-ahead may both fault.
class VanishingView : public ::testing::TestWithParam<size_t> {};

TEST_P(VanishingView, AViewWhoseFileVanishesWhileReadIsDroppedNotACrash) {
    const size_t size = GetParam();
    TScratchFolder folder;
    const std::wstring path = folder.Write(L"vanishing.bin", std::string(size, 'v'));
    TFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    TKernelHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    TMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_TRUE(view);
    if (!CutFileShort(path, 3 << 20))
        GTEST_SKIP() << "no way to cut a mapped file short here";

    TSha1 sha1;
    DWORD error = ERROR_SUCCESS;
    EXPECT_FALSE(DigestMappedView(view, size, sha1, error));
    EXPECT_FALSE(view);
    // Wine's fault for a file cut short carries no status: the file ended.
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_HANDLE_EOF));
    // The process goes on, and the file as it is now digests normally.
    EXPECT_EQ(DigestTextOfFile(path),
              DigestToText(DigestInPieces(FastestSha1Blocks(), std::string(3 << 20, 'v'))));
}

INSTANTIATE_TEST_SUITE_P(FileDigest, VanishingView,
                         ::testing::Values(size_t{8} << 20, ViewReadAheadMinimum * 4),
                         [](const auto& AInfo) {
                             return std::to_string(AInfo.param >> 20) + "MiB";
                         });

// A file changing size while it is digested, by another thread of this
// process: every digest must be that of a prefix the file had, whole pages of
// a known pattern, and never the empty-input digest.
class ChangingFile : public ::testing::Test {
protected:
    static constexpr size_t Page = 4096;

    static std::string Pattern(size_t ASize) {
        std::string content(ASize, '\0');
        for (size_t i = 0; i < ASize; ++i)
            content[i] = static_cast<char>((i * 31) ^ (i >> 12));
        return content;
    }

    // The digests of AContent's prefixes of AFrom, AFrom + Page, ... bytes, up
    // to the whole. A prefix of whole pages ends on a block boundary: one
    // padding block on a copy of the running state finishes it.
    static std::set<TFileDigest> PrefixDigests(const std::string& AContent, size_t AFrom) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(AContent.data());
        std::set<TFileDigest> digests;
        std::uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
        for (size_t size = 0; size <= AContent.size(); size += Page) {
            if (size >= AFrom) {
                std::uint32_t finished[5];
                std::copy_n(state, 5, finished);
                std::uint8_t padding[64] = {0x80};
                for (int i = 0; i < 8; ++i)
                    padding[56 + i] = static_cast<std::uint8_t>((size * 8) >> (56 - 8 * i));
                Sha1BlocksPortable(finished, padding, 1);
                TFileDigest digest;
                for (int i = 0; i < 20; ++i)
                    digest[i] = static_cast<std::uint8_t>(finished[i / 4] >> (24 - 8 * (i % 4)));
                digests.insert(digest);
            }
            if (size < AContent.size())
                Sha1BlocksPortable(state, data + size, Page / 64);
        }
        return digests;
    }

    TFileHandle OpenForWriting(const std::wstring& APath) {
        return TFileHandle(::CreateFileW(APath.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    // Digests APath over and over until AChanging is done; the digests seen,
    // a failure as all zeros.
    static std::vector<TFileDigest> DigestWhile(const std::wstring& APath, std::jthread& AChanging,
                                                const std::atomic<bool>& ADone) {
        std::vector<TFileDigest> digests;
        while (!ADone) {
            TFileDigest digest;
            DWORD error = ERROR_SUCCESS;
            if (!DigestFile(APath, digest, error))
                digest = {};
            digests.push_back(digest);
        }
        AChanging.join();
        return digests;
    }

    static void ExpectAllAmong(const std::vector<TFileDigest>& ADigests,
                               const std::set<TFileDigest>& AValid) {
        EXPECT_GT(ADigests.size(), 10u);
        size_t invalid = 0, failed = 0;
        for (const TFileDigest& digest : ADigests) {
            invalid += AValid.count(digest) == 0;
            failed += digest == TFileDigest{};
        }
        EXPECT_EQ(invalid, 0u) << "of " << ADigests.size() << " digests, " << failed << " failed";
    }

    TScratchFolder FFolder;
};

TEST_F(ChangingFile, AGrowingFileDigestsAsAPrefixItHad) {
    const size_t initial = 64 * Page, grown = 1024 * Page;
    const std::string content = Pattern(grown);
    const std::wstring path = FFolder.Write(L"growing.bin", content.substr(0, initial));
    TFileHandle writer = OpenForWriting(path);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(::SetFilePointer(writer.get(), 0, nullptr, FILE_END) == initial);
    std::atomic<bool> done{false};
    std::jthread appender([&] {
        for (size_t at = initial; at < grown; at += Page) {
            DWORD written = 0;
            ::WriteFile(writer.get(), content.data() + at, Page, &written, nullptr);
            if (at % (4 * Page) == 0)
                ::Sleep(1);
        }
        done = true;
    });
    ExpectAllAmong(DigestWhile(path, appender, done), PrefixDigests(content, initial));
}

TEST_F(ChangingFile, AShrinkingFileDigestsAsAPrefixItHad) {
    // Cut page by page, never below a floor and in fewer steps than a digest
    // reads a file again: whatever happens, the content of some moment can be
    // digested. Windows (and Wine) refuse to cut a mapped file; under Wine a
    // Unix program cuts it behind the mapping, as a share vanishing does.
    const size_t whole = 1024 * Page, floor = 512 * Page, step = 32 * Page;
    const std::string content = Pattern(whole);
    const std::wstring path = FFolder.Write(L"shrinking.bin", content);
    TFileHandle writer = OpenForWriting(path);
    ASSERT_TRUE(writer);
    std::atomic<bool> done{false};
    std::jthread truncator([&] {
        for (size_t size = whole - step; size >= floor; size -= step) {
            if (CutFileShort(path, size))
                continue;
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(size);
            for (int tries = 0; tries < 1000; ++tries) {
                if (::SetFilePointerEx(writer.get(), at, nullptr, FILE_BEGIN) &&
                    ::SetEndOfFile(writer.get()))
                    break;
                ::Sleep(0);
            }
            ::Sleep(2);
        }
        done = true;
    });
    ExpectAllAmong(DigestWhile(path, truncator, done), PrefixDigests(content, floor));
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

// SHA-256 by the system's provider, against the standard's vectors; a body
// larger than one read of the file is hashed whole.
TEST(FileSha256, FilesGiveTheKnownAnswersAndUnreadableOnesTheirReason) {
    TScratchFolder folder;
    const struct {
        std::string Message;
        const wchar_t* Digest;
    } vectors[] = {
        {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.Message.size());
        std::wstring digest;
        DWORD error = 0xEEEE;
        EXPECT_TRUE(FileSha256(folder.Write(L"vector.bin", vector.Message), digest, error));
        EXPECT_EQ(digest, vector.Digest);
        EXPECT_EQ(error, ERROR_SUCCESS);
    }
    const std::wstring locked = folder.Write(L"locked.bin", "abc");
    TFileHandle exclusive(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(exclusive);
    const struct {
        const char* Name;
        std::wstring Path;
        DWORD Error;
    } unreadable[] = {
        {"missing", folder.Path() + L"missing.bin", ERROR_FILE_NOT_FOUND},
        {"held open without sharing", locked, ERROR_SHARING_VIOLATION},
        {"a folder", folder.Path(), ERROR_ACCESS_DENIED},
    };
    for (const auto& row : unreadable) {
        std::wstring digest = L"left";
        DWORD error = ERROR_SUCCESS;
        EXPECT_FALSE(FileSha256(row.Path, digest, error)) << row.Name;
        EXPECT_EQ(digest, L"") << row.Name;
        EXPECT_EQ(error, row.Error) << row.Name;
    }
}
