// The whole-file steps on the real file system: a set of files copied whole,
// all of them or none, after a copy that went through and after one that
// failed at each of its steps; and the steps of the swap, with the holds of
// other programs played by a second thread: a scanner's open without sharing
// or sharing reading, a look at the attributes only, a mapped image.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileHolders.h"
#include "platform/FolderLock.h"
#include "platform/Handles.h"
#include "platform/WholeOrNothing.h"
#include "platform/WinText.h"
#include "tests/support/HeldFileWait.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnixSide.h"

namespace {

// Every file and folder below AFolder, by its relative name, with each
// file's content.
std::set<std::wstring> Listing(const std::wstring& AFolder) {
    namespace fs = std::filesystem;
    std::set<std::wstring> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(AFolder)) {
        const std::wstring relative = fs::relative(entry.path(), AFolder).wstring();
        if (entry.is_directory()) {
            entries.insert(relative + L"\\");
            continue;
        }
        const std::string content = ReadWholeFile(entry.path().wstring());
        entries.insert(relative + L" = " + std::wstring(content.begin(), content.end()));
    }
    return entries;
}

class CopyWholeOrNothingTest : public testing::Test {
protected:
    void SetUp() override {
        FFrom.Write(L"tool.exe", "new program");
        FFrom.Write(L"tool.com", "new twin");
        ASSERT_TRUE(::CreateDirectoryW((FFrom.Path() + L"locale").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((FFrom.Path() + L"locale\\de").c_str(), nullptr));
        FFrom.Write(L"locale\\de\\default.mo", "catalog");
        FFrom.Write(L"stray.txt", "not copied");
        // What the target folder held before.
        FTo.Write(L"tool.exe", "older program");
        FTo.Write(L"product.dll", "product");
    }

    unsigned long Copy() { return CopyWholeOrNothing(FFrom.Path(), FFiles, FTo.Path(), FFailed); }

    TScratchFolder FFrom;
    TScratchFolder FTo;
    const std::vector<std::wstring> FFiles = {L"tool.exe", L"tool.com", L"locale\\de\\default.mo"};
    size_t FFailed = 99;
};

TEST_F(CopyWholeOrNothingTest, EveryFileTakesItsNameAndWhatWasThereBeforeGoes) {
    ASSERT_EQ(::SetFileAttributesW((FTo.Path() + L"tool.exe").c_str(), FILE_ATTRIBUTE_READONLY),
              TRUE);
    ASSERT_EQ(Copy(), 0u);
    EXPECT_EQ(Listing(FTo.Path()),
              (std::set<std::wstring>{
                  L"tool.exe = new program", L"tool.com = new twin", L"locale\\", L"locale\\de\\",
                  L"locale\\de\\default.mo = catalog", L"product.dll = product"}));
    EXPECT_EQ(FFailed, 99u) << "untouched after a copy that went through";

    // Again, over the files of the first copy.
    ASSERT_EQ(Copy(), 0u);
    EXPECT_EQ(Listing(FTo.Path()).size(), 6u);
}

TEST_F(CopyWholeOrNothingTest, AFailureAtAnyStepLeavesTheFolderAsItWas) {
    struct TCase {
        const char* Name;
        std::wstring Held; // a file another program holds without sharing meanwhile
        unsigned long Error;
        size_t Failed;
    };
    const TCase cases[] = {
        {"a source that cannot be read, after two files", FFrom.Path() + L"locale\\de\\default.mo",
         ERROR_SHARING_VIOLATION, 2},
        {"a file there that cannot leave its name, after one was placed", FTo.Path() + L"tool.com",
         ERROR_SHARING_VIOLATION, 1},
    };
    for (const TCase& row : cases) {
        SCOPED_TRACE(row.Name);
        if (row.Held.starts_with(FTo.Path()))
            FTo.Write(L"tool.com", "older twin");
        const std::set<std::wstring> before = Listing(FTo.Path());
        {
            const TFileHandle held(::CreateFileW(row.Held.c_str(), GENERIC_READ, 0, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            EXPECT_EQ(Copy(), row.Error);
            EXPECT_EQ(FFailed, row.Failed);
        }
        EXPECT_EQ(Listing(FTo.Path()), before) << "nothing half-copied, nothing lost";
    }
}

TEST_F(CopyWholeOrNothingTest, NeitherAMissingFolderNorAFolderInTheWayIsTakenForAFile) {
    const std::wstring gone = FTo.Path() + L"uninstalled";
    EXPECT_EQ(CopyWholeOrNothing(FFrom.Path(), FFiles, gone, FFailed),
              static_cast<unsigned long>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FFailed, 0u);
    EXPECT_FALSE(Exists(gone)) << "the target folder is not made";

    ASSERT_TRUE(::CreateDirectoryW((FTo.Path() + L"tool.com").c_str(), nullptr));
    const std::set<std::wstring> before = Listing(FTo.Path());
    EXPECT_EQ(Copy(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(FFailed, 1u);
    EXPECT_EQ(Listing(FTo.Path()), before);
}

// APath opened as another program opens it, and let go after AMilliseconds
// by a thread of its own (or by the end of the hold). The hold has begun
// when the constructor returns.
class THold {
public:
    THold(const std::wstring& APath, DWORD AAccess, DWORD AShare, DWORD AMilliseconds = INFINITE)
        : FFile(::CreateFileW(APath.c_str(), AAccess, AShare, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {
        EXPECT_TRUE(FFile) << WideToUtf8(APath) << " not held: " << ::GetLastError();
        if (AMilliseconds != INFINITE)
            FRelease = std::thread([this, AMilliseconds] {
                ::Sleep(AMilliseconds);
                FFile.reset();
            });
    }
    THold(const THold&) = delete;
    THold& operator=(const THold&) = delete;
    ~THold() {
        if (FRelease.joinable())
            FRelease.join();
        FFile.reset();
    }

private:
    TFileHandle FFile;
    std::thread FRelease;
};

std::vector<std::wstring> FolderEntries(const std::wstring& AFolder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const TFindHandle search(::FindFirstFileW((AFolder + L"*").c_str(), &entry));
    for (BOOL more = static_cast<bool>(search); more;
         more = ::FindNextFileW(search.get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    }
    return names;
}

TEST(HeldFiles, AStepIsTriedAgainUntilTheHolderLetsGo) {
    const TScratchFolder folder;
    const std::wstring path = folder.Write(L"held.dll", "held");
    {
        const THold hold(path, GENERIC_READ, 0, 300);
        EXPECT_TRUE(OpenUnheldFile(path, GENERIC_WRITE, 0)) << ::GetLastError();
    }

    // Counted: a hold that outlasts the wait, and an error no hold explains.
    const THeldFileWaitForTest wait(300);
    const THold forGood(path, GENERIC_READ, FILE_SHARE_READ);
    int tries = 0;
    EXPECT_FALSE(RetryWhileHeld([&] {
        ++tries;
        return ::MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0) != FALSE;
    }));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_GT(tries, 2);
    tries = 0;
    EXPECT_FALSE(RetryWhileHeld([&] {
        ++tries;
        return ::MoveFileExW((path + L".absent").c_str(), (path + L".moved").c_str(), 0) != FALSE;
    }));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(tries, 1);
}

// Each kind of old file, and how its swap ends: the new file in place and
// the old one gone, or nothing changed. Either way nothing of the swap is
// left beside them.
TEST(SwapInPartialFile, EachOldFileEndsAsItsOutcomeSays) {
    const THeldFileWaitForTest wait(400);
    const std::string image = ReadWholeFile(FixturePath(L"QVHook64.dll"));
    ASSERT_FALSE(image.empty());
    using THolder = std::function<std::shared_ptr<void>(const std::wstring&)>;
    const auto holding = [](DWORD AAccess, DWORD AShare) -> THolder {
        return [AAccess, AShare](const std::wstring& APath) {
            return std::make_shared<THold>(APath, AAccess, AShare);
        };
    };
    struct TCase {
        const char* What;
        bool OldThere;
        THolder Hold;
        TSwapOutcome Outcome;
        DWORD Error;
    };
    const TCase cases[] = {
        {"a plain file", true, nullptr, TSwapOutcome::soSwapped, 0},
        {"an empty path", false, nullptr, TSwapOutcome::soSwapped, 0},
        {"held for its attributes only", true,
         holding(FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE),
         TSwapOutcome::soSwapped, 0},
        {"held without sharing", true, holding(GENERIC_READ, 0), TSwapOutcome::soKept,
         ERROR_SHARING_VIOLATION},
        {"held sharing reading", true, holding(GENERIC_READ, FILE_SHARE_READ), TSwapOutcome::soKept,
         ERROR_SHARING_VIOLATION},
        {"read-only", true,
         [](const std::wstring& APath) {
             ::SetFileAttributesW(APath.c_str(), FILE_ATTRIBUTE_READONLY);
             return std::shared_ptr<void>();
         },
         TSwapOutcome::soReadOnly, ERROR_ACCESS_DENIED},
        {"loaded as an image", true,
         [](const std::wstring& APath) -> std::shared_ptr<void> {
             auto view = std::make_shared<TMappedView>(MapAsImage(APath));
             EXPECT_TRUE(*view);
             return view;
         },
         TSwapOutcome::soUndeletable, ERROR_ACCESS_DENIED},
    };
    for (const TCase& c : cases) {
        const TScratchFolder folder;
        const std::wstring target = folder.Path() + L"QVHook64.dll";
        const std::string old = image + "old", fresh = image + "new";
        if (c.OldThere)
            WriteWholeFile(target, old);
        WriteWholeFile(PartialPath(target), fresh);
        TSwapOutcome outcome;
        DWORD error = 0;
        {
            const std::shared_ptr<void> hold = c.Hold ? c.Hold(target) : nullptr;
            outcome = SwapInPartialFile(target);
            error = ::GetLastError();
        }
        EXPECT_EQ(outcome, c.Outcome) << c.What;
        if (c.Outcome == TSwapOutcome::soSwapped) {
            EXPECT_EQ(ReadWholeFile(target), fresh) << c.What;
        } else {
            EXPECT_EQ(error, c.Error) << c.What;
            EXPECT_EQ(ReadWholeFile(target), old) << c.What;
        }
        // The old file under its own name is gone once its holder let go.
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::wstring>{L"QVHook64.dll"})
            << c.What;
    }
}

// A scanner opens the new file as it appears and lets go after a moment:
// the swap waits for it, and then holds the new file itself until it has
// taken the name.
TEST(SwapInPartialFile, ANewFileHeldForAMomentStillTakesTheName) {
    const TScratchFolder folder;
    const std::wstring target = folder.Write(L"QVHookDrv64.sys", "old");
    folder.Write(L"QVHookDrv64.sys.partial", "new");
    for (const DWORD share : {0ul, static_cast<DWORD>(FILE_SHARE_READ)}) {
        WriteWholeFile(PartialPath(target), "new " + std::to_string(share));
        const THold hold(PartialPath(target), GENERIC_READ, share, 300);
        EXPECT_EQ(SwapInPartialFile(target), TSwapOutcome::soSwapped) << share;
        EXPECT_EQ(ReadWholeFile(target), "new " + std::to_string(share));
    }
}

TEST(SwapInPartialFile, TheNewFileKeepsTheOldOnesHiddenAndSystemAttributes) {
    const TScratchFolder folder;
    struct TCase {
        DWORD Old;
        DWORD Expected; // of the attributes that travel
    };
    constexpr DWORD travelling = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const TCase cases[] = {
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, travelling},
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        {FILE_ATTRIBUTE_NORMAL, 0},
    };
    for (const TCase& c : cases) {
        const std::wstring target = folder.Path() + L"QVHookHelper.exe";
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteWholeFile(target, "old");
        ASSERT_TRUE(::SetFileAttributesW(target.c_str(), c.Old));
        WriteWholeFile(PartialPath(target), "new");
        EXPECT_EQ(SwapInPartialFile(target), TSwapOutcome::soSwapped) << c.Old;
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        EXPECT_EQ(attributes & travelling, c.Expected) << c.Old;
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u) << c.Old;
        EXPECT_EQ(ReadWholeFile(target), "new");
    }
}

// The installed name is a link to a file in another folder: the name is
// replaced, the file it led to stays as it was.
TEST(SwapInPartialFile, ALinkIsReplacedAndTheFileItLedToIsLeftAlone) {
    const TScratchFolder folder, elsewhere;
    const std::wstring linked = elsewhere.Write(L"QVHook32.dll", "the linked build");
    const std::wstring target = folder.Path() + L"QVHook32.dll";
    if (!MakeFileLink(target, linked))
        GTEST_SKIP() << "this system makes no file links";
    ASSERT_EQ(ReadWholeFile(target), "the linked build");
    WriteWholeFile(PartialPath(target), "new");
    EXPECT_EQ(SwapInPartialFile(target), TSwapOutcome::soSwapped);
    EXPECT_EQ(ReadWholeFile(target), "new");
    EXPECT_EQ(ReadWholeFile(linked), "the linked build");
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::wstring>{L"QVHook32.dll"});
}

TEST(PartialFiles, AreWrittenCopiedAndMovedWhileOthersHoldThemForAMoment) {
    const TScratchFolder folder;
    const std::wstring target = folder.Path() + L"QVHookInst32.exe";
    const std::string bytes(300000, 'b');
    // A leftover of an earlier try, read-only and held for a moment.
    WriteWholeFile(PartialPath(target), "leftover");
    ::SetFileAttributesW(PartialPath(target).c_str(), FILE_ATTRIBUTE_READONLY);
    {
        const THold hold(PartialPath(target), GENERIC_READ, FILE_SHARE_READ, 300);
        EXPECT_EQ(WriteFlushedFile(PartialPath(target), bytes), 0u);
    }
    EXPECT_EQ(ReadWholeFile(PartialPath(target)), bytes);
    {
        const THold hold(PartialPath(target), GENERIC_READ, 0, 300);
        EXPECT_TRUE(MovePartialFileIntoPlace(target));
    }
    EXPECT_EQ(ReadWholeFile(target), bytes);
    // Never over a file that is there; the partial file goes.
    WriteWholeFile(PartialPath(target), "second");
    EXPECT_FALSE(MovePartialFileIntoPlace(target));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadWholeFile(target), bytes);
    EXPECT_FALSE(Exists(PartialPath(target)));
    // A copy keeps the source's attributes; its source may be held reading.
    const std::wstring copy = folder.Path() + L"copy.exe";
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    {
        const THold hold(target, GENERIC_READ, FILE_SHARE_READ);
        EXPECT_TRUE(CopyToPartialFile(target, copy));
    }
    EXPECT_EQ(ReadWholeFile(PartialPath(copy)), bytes);
    EXPECT_NE(::GetFileAttributesW(PartialPath(copy).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    DiscardLeftoverFile(PartialPath(copy));
    EXPECT_FALSE(Exists(PartialPath(copy)));
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(ReadUnheldFile, ReadsAWholeFileOnceItsHolderLetsGo) {
    const TScratchFolder folder;
    std::string bytes(3 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 + i / 4093);
    const std::wstring path = folder.Write(L"read.dll", bytes);
    for (const DWORD share : {0ul, static_cast<DWORD>(FILE_SHARE_READ)}) {
        std::string read;
        const THold hold(path, GENERIC_READ, share, 300);
        EXPECT_EQ(ReadUnheldFile(path, [&](std::string_view AChunk) { read += AChunk; }), 0u);
        EXPECT_TRUE(read == bytes) << read.size() << " bytes read";
    }
    EXPECT_EQ(ReadUnheldFile(path + L".absent", [](std::string_view) {}),
              static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
}

// Every spelling of one folder comes to one lock; the lock of another folder
// is another one. A lock held by another thread (another window) is not
// taken; once let go, it is.
TEST(FolderLock, OnePressPerFolderWhateverItsSpelling) {
    const TScratchFolder folder, other;
    std::promise<void> taken, done;
    std::thread holder([&] {
        const TFolderLock lock(folder.Path(), L"DerodoTest");
        EXPECT_TRUE(lock.Taken());
        taken.set_value();
        done.get_future().wait();
    });
    taken.get_future().wait();
    std::wstring lower = folder.Path();
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(::towlower(c));
    const std::wstring bare = folder.Path().substr(0, folder.Path().size() - 1);
    for (const std::wstring& spelling :
         {folder.Path(), lower, bare, L"\\\\?\\" + bare, folder.Path() + L".\\"})
        EXPECT_FALSE(TFolderLock(spelling, L"DerodoTest").Taken()) << WideToUtf8(spelling);
    EXPECT_TRUE(TFolderLock(folder.Path(), L"DerodoOtherWork").Taken());
    EXPECT_TRUE(TFolderLock(other.Path(), L"DerodoTest").Taken());
    done.set_value();
    holder.join();
    EXPECT_TRUE(TFolderLock(folder.Path(), L"DerodoTest").Taken());
}

TEST(FolderLockName, EverySpellingComesToOneName) {
    struct TCase {
        const wchar_t* Resolved;
        const wchar_t* Normalised;
    };
    const TCase cases[] = {
        {L"\\\\?\\C:\\VEXLO\\", L"C:\\VEXLO"},
        {L"\\\\?\\C:\\VEXLO", L"C:\\VEXLO"},
        {L"C:\\VEXLO\\\\", L"C:\\VEXLO"},
        {L"\\\\?\\C:\\", L"C:\\"},
        {L"C:\\", L"C:\\"},
        {L"\\\\?\\UNC\\SERVER\\SHARE\\VEXLO\\", L"\\\\SERVER\\SHARE\\VEXLO"},
        {L"\\\\SERVER\\SHARE\\VEXLO", L"\\\\SERVER\\SHARE\\VEXLO"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(NormalisedFolder(c.Resolved), c.Normalised) << WideToUtf8(c.Resolved);
    // FNV-1a over the code units' bytes, low byte first: its offset basis
    // for nothing, and for "a" the hash of the bytes 61 00.
    EXPECT_EQ(FolderLockName(L"Work", L""), L"Work-cbf29ce484222325");
    EXPECT_EQ(FolderLockName(L"Work", L"a"), L"Work-089be207b544f1e4");
    EXPECT_NE(FolderLockName(L"Work", L"C:\\VEXLO"), FolderLockName(L"Work", L"C:\\VEXL0"));
    EXPECT_EQ(FolderLockName(L"Work", L"C:\\VEXLO").find(L'\\'), std::wstring::npos);
}

// The holder of a file, where the system names one, is a program that holds
// it; Wine names none.
TEST(FileHolders, NameOnlyProgramsThatHoldTheFile) {
    const TScratchFolder folder;
    const std::wstring path = folder.Write(L"held.dll", "held");
    const THold hold(path, GENERIC_READ, FILE_SHARE_READ);
    const std::vector<TFileHolder> holders = FileHolders(path);
    for (const TFileHolder& holder : holders)
        EXPECT_EQ(holder.ProcessId, ::GetCurrentProcessId()) << WideToUtf8(holder.Name);
    std::printf("the system names %zu holders of a held file\n", holders.size());
    EXPECT_TRUE(FileHolders(path + L".absent").empty());
}

} // namespace
