// The alternative files against the real file system and the loopback test
// server. This program lives in a folder of its own (the program folder the
// console works in), with the seven files beside it made anew for each test.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/AlternativeFiles.h"
#include "app/LiveProtectionFiles.h"
#include "download/WinINet.h"
#include "platform/FolderLock.h"
#include "platform/ProgramPath.h"
#include "platform/SystemMessage.h"
#include "platform/WholeOrNothing.h"
#include "platform/WinText.h"
#include "tests/app/FakeConsoleServices.h"
#include "tests/automation/LoopbackServer.h"
#include "tests/automation/ScannerProcess.h"
#include "tests/support/HeldFileWait.h"
#include "tests/support/TestBuilds.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnixSide.h"

namespace {

namespace fs = std::filesystem;

const std::string FilesPath = "/Vexlo2/special-purpose-test-versions/RodeVadudazovi/files-2.7/";

// A build of the file (every alternative file is a whole image of the
// installed one's kind), with distinct bytes per file and version inside it,
// large enough to take many reads.
std::string Content(const std::wstring& AName, const std::string& AVersion) {
    return ImageBuild(ReadWholeFile(FixturePath(L"..\\" + AName)),
                      AVersion + " " + WideToUtf8(AName) + "\n", 40000);
}

std::wstring Installed(size_t AIndex) {
    return LiveProtectionFilePath(AIndex);
}

std::wstring Backup(size_t AIndex) {
    return ProgramFolder() + BackupFolderName + LiveProtectionFiles[AIndex];
}

// The window's writers and operations, its lines kept; the writing of one
// file can be made to fail half-way, as on a full disk.
class TAlternativeFilesForm : public TLogForm {
public:
    explicit TAlternativeFilesForm(TConsoleServices& AServices) : TLogForm(AServices) {
        SetStreamWriter([this](const TMemoryStream& AStream, const std::wstring& APath) {
            Write(AStream, APath);
        });
    }
    std::wstring FailingWrite;
    // The new file of this name is held, once written, so that it cannot be
    // renamed, as a scanner that opens every new file may hold it.
    std::wstring HeldWrite;
    TFileHandle Held;

    // The lines the alternative files wrote, without the closing report.
    std::vector<std::wstring> DownloadLines() const {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : Lines) {
            if (line == L"[ Windows ]") {
                lines.pop_back(); // the report's empty first line
                break;
            }
            lines.push_back(line);
        }
        return lines;
    }
    bool ReportWritten() const {
        return std::find(Lines.begin(), Lines.end(), L"[ Windows ]") != Lines.end();
    }

    // One file through the swap, written as the download writes it.
    void ReplaceFile(const std::wstring& ABase, size_t AIndex,
                     TReplacedBuilds* AReplaced = nullptr) {
        ::ReplaceFile(
            FServices, *this, ABase, AIndex,
            [this](const TMemoryStream& AStream, const std::wstring& APath) {
                Write(AStream, APath);
            },
            AReplaced);
    }
    bool RestoreBackup(size_t AIndex) { return ::RestoreBackup(*this, AIndex); }

private:
    void Write(const TMemoryStream& AStream, const std::wstring& APath) {
        if (!HeldWrite.empty() && ExtractFileName(APath).rfind(HeldWrite, 0) == 0) {
            WriteStreamToFile(AStream, APath);
            Held.reset(::CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            return;
        }
        if (FailingWrite.empty() || ExtractFileName(APath).rfind(FailingWrite, 0) != 0)
            return WriteStreamToFile(AStream, APath);
        const std::string& bytes = AStream.Bytes();
        WriteWholeFile(APath, bytes.substr(0, bytes.size() / 2));
        throw std::runtime_error(
            WideToUtf8(L"Cannot write file \"" + APath + L"\". " + SystemMessage(ERROR_DISK_FULL)));
    }
};

class AlternativeFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() { WinINetStartUp(); }

    void SetUp() override {
        std::error_code ignored;
        fs::remove_all(ProgramFolder() + BackupFolderName, ignored);
        fs::remove(ProgramFolder() + L"LPBackup", ignored);
        for (size_t i = 0; i < LiveProtectionFiles.size(); ++i)
            ::SetFileAttributesW(Installed(i).c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(ServerRoot(), ignored);
        fs::create_directories(ServerRoot());
        ::DeleteFileW(LogFile().c_str());
        for (size_t i = 0; i < LiveProtectionFiles.size(); ++i) {
            ::DeleteFileW(Installed(i).c_str());
            ::DeleteFileW((Installed(i) + L".partial").c_str());
        }
        // The file-scan service's program is not there: nothing may name it.
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
            WriteWholeFile(Installed(i), Content(LiveProtectionFiles[i], "original"));
            WriteWholeFile(ServerRoot() + LiveProtectionFiles[i],
                           Content(LiveProtectionFiles[i], "alternative"));
        }
        TLoopbackServerOptions options;
        options.Root = ServerRoot();
        options.Log = LogFile();
        options.FilesPath = FilesPath;
        FServer = std::make_unique<TLoopbackServer>(options);
    }

    static std::wstring ServerRoot() { return ProgramFolder() + L"server\\"; }
    static std::wstring LogFile() { return ProgramFolder() + L"requests.log"; }
    std::wstring Base(const std::string& APath = FilesPath) const {
        return L"http://127.0.0.1:" + std::to_wstring(FServer->Port()) + AnsiToWide(APath);
    }

    // What must hold after any run: each installed file is the original or
    // the whole alternative build (or missing, when it was missing before),
    // and a backup, where there is one, holds the original.
    static void ExpectNothingLost() {
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
            const std::wstring name = LiveProtectionFiles[i];
            const std::string original = Content(name, "original");
            if (Exists(Installed(i))) {
                const std::string installed = ReadWholeFile(Installed(i));
                EXPECT_TRUE(installed == original || installed == Content(name, "alternative"))
                    << WideToUtf8(name) << " holds " << installed.size() << " other bytes";
            }
            if (Exists(Backup(i))) {
                EXPECT_TRUE(ReadWholeFile(Backup(i)) == original) << WideToUtf8(name);
            }
        }
        EXPECT_FALSE(Exists(Installed(0)));
    }
    // Compared whole, reported by size: the bytes are images.
    static void ExpectBuild(size_t AIndex, const std::string& AVersion) {
        const std::string installed = ReadWholeFile(Installed(AIndex));
        EXPECT_TRUE(installed == Content(LiveProtectionFiles[AIndex], AVersion))
            << WideToUtf8(LiveProtectionFiles[AIndex]) << " holds " << installed.size()
            << " bytes, not the " << AVersion << " build";
    }
    static void ExpectOriginal(size_t AIndex) { ExpectBuild(AIndex, "original"); }
    static void ExpectAlternative(size_t AIndex) { ExpectBuild(AIndex, "alternative"); }

    // The lines of a run in which every file gets ALine, after its backup line.
    std::vector<std::wstring> Expected(const std::wstring& ABase,
                                       const std::vector<std::wstring>& APerFile) const {
        std::vector<std::wstring> lines = {L"", L"[ File Download ]", L"[i] " + ABase};
        for (const std::wstring& line : APerFile)
            lines.push_back(line);
        return lines;
    }
    static std::vector<std::wstring> EachFile(const std::wstring& AFormat) {
        std::vector<std::wstring> lines;
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
            std::wstring line = AFormat;
            line.replace(line.find(L"%s"), 2, LiveProtectionFiles[i]);
            lines.push_back(line);
        }
        return lines;
    }
    std::string RequestLog() const { return ReadWholeFile(LogFile()); }
    static void ExpectNoPartialFiles() {
        for (size_t i = 0; i < LiveProtectionFiles.size(); ++i) {
            EXPECT_FALSE(Exists(Installed(i) + L".partial")) << WideToUtf8(LiveProtectionFiles[i]);
            EXPECT_FALSE(Exists(Backup(i) + L".partial")) << WideToUtf8(LiveProtectionFiles[i]);
        }
    }

    // The lines of a press in which every file has its backup made and is
    // replaced.
    std::vector<std::wstring> AllReplaced() const {
        return Expected(Base(), EachFile(L"[+] Backup for %s created."));
    }
    static std::wstring ScannerProgram() { return FixturePath(L"..\\scanner.exe"); }
    // The scanner did open each backup and each new build as it appeared.
    static void ExpectHeldEachBackupAndBuild(const std::vector<std::wstring>& AHeld) {
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
            for (const std::wstring& name :
                 {std::wstring(LiveProtectionFiles[i]),
                  BackupFolderName + std::wstring(LiveProtectionFiles[i])})
                EXPECT_NE(std::find(AHeld.begin(), AHeld.end(), name), AHeld.end())
                    << WideToUtf8(name) << " was not held";
        }
    }

    // The holds of files the tests play wait for their holder no longer than this.
    const THeldFileWaitForTest FWait{500};
    TSystemConsoleServices FServices;
    std::unique_ptr<TLoopbackServer> FServer;
};

TEST_F(AlternativeFiles, EveryFileReplacedThenASecondRunKeepsTheFirstBackups) {
    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    EXPECT_EQ(form.DownloadLines(), Expected(Base(), EachFile(L"[+] Backup for %s created.")));
    EXPECT_TRUE(form.ReportWritten());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ExpectAlternative(i);
    ExpectNothingLost();
    for (const std::wstring& line : form.DownloadLines())
        EXPECT_EQ(line.find(L"QVFSSvc.exe"), std::wstring::npos);

    TAlternativeFilesForm again(FServices);
    again.DownloadAlternativeFiles(Base());
    EXPECT_EQ(again.DownloadLines(), Expected(Base(), EachFile(L"[i] Backup for %s exists.")));
    ExpectNothingLost();
}

TEST_F(AlternativeFiles, AMissingFileIsNotDownloaded) {
    ::DeleteFileW(Installed(2).c_str());
    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    std::vector<std::wstring> perFile = EachFile(L"[+] Backup for %s created.");
    perFile[1] = L"[-] File QVHook64.dll missing, cannot create backup.";
    EXPECT_EQ(form.DownloadLines(), Expected(Base(), perFile));
    EXPECT_FALSE(Exists(Installed(2)));
    EXPECT_EQ(RequestLog().find("QVHook64.dll"), std::string::npos);
    ExpectAlternative(1);
    ExpectAlternative(3);
    ExpectNothingLost();
}

TEST_F(AlternativeFiles, AFileTheServerDoesNotHaveStaysAsItWas) {
    ::DeleteFileW((ServerRoot() + L"QVHookDrv32.sys").c_str());
    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    std::vector<std::wstring> perFile = EachFile(L"[+] Backup for %s created.");
    perFile.insert(perFile.begin() + 3, L"[-] Unable to download: 18");
    EXPECT_EQ(form.DownloadLines(), Expected(Base(), perFile));
    ExpectOriginal(3);
    ExpectAlternative(4);
    ExpectNothingLost();
}

// An error page, a body cut short of its length, a connection reset in the
// middle: no file is written, every installed file stays as it was.
TEST_F(AlternativeFiles, NoBodyButAWholeOneIsWritten) {
    struct TCase {
        std::string Folder;
        std::wstring Line;
    };
    const TCase cases[] = {
        {"/status/500/", L"[-] Unable to download: 500"},
        {"/status/403/", L"[-] Unable to download: 403"},
        {"/truncated/40000/12000/", L"[-] Unable to download: 12031"},
        {"/reset/40000/20000/", L""}, // the platform's error of the failed read
    };
    bool first = true;
    for (const TCase& c : cases) {
        TAlternativeFilesForm form(FServices);
        form.DownloadAlternativeFiles(Base(c.Folder));
        const std::vector<std::wstring> lines = form.DownloadLines();
        ASSERT_EQ(lines.size(), 3u + 2 * 7) << c.Folder;
        for (size_t i = 0; i < 7; ++i) {
            EXPECT_EQ(lines[3 + 2 * i], first ? EachFile(L"[+] Backup for %s created.")[i]
                                              : EachFile(L"[i] Backup for %s exists.")[i]);
            if (!c.Line.empty()) {
                EXPECT_EQ(lines[4 + 2 * i], c.Line) << c.Folder;
            } else {
                EXPECT_EQ(lines[4 + 2 * i].rfind(L"[-] Unable to download: ", 0), 0u);
                EXPECT_NE(lines[4 + 2 * i], L"[-] Unable to download: 0");
            }
        }
        first = false;
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
            ExpectOriginal(i);
        ExpectNothingLost();
    }
}

// The line after "Unable to delete for replacement: %s", with the system's
// reason, and why where it is known.
std::wstring RefusalLine(DWORD AError, const std::wstring& AWhy = L"") {
    return L"[i] The system refused the deletion; error code is " + std::to_wstring(AError) +
           L" (" + SystemMessage(AError) + L")" + (AWhy.empty() ? L"" : L": " + AWhy) + L".";
}

const std::wstring HeldOpen = L"another program holds the file open";

// Held past the wait, it fails alone with its line and the reason; the
// others are replaced, the report is written, nothing of its swap is left.
TEST_F(AlternativeFiles, AFileInUseIsNotReplaced) {
    // Open as a running program is: readable, so it can be backed up, but
    // not deletable.
    TFileHandle inUse(::CreateFileW(Installed(1).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(inUse);
    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    std::vector<std::wstring> perFile = EachFile(L"[+] Backup for %s created.");
    perFile.insert(perFile.begin() + 1, {L"[-] Unable to delete for replacement: " + Installed(1),
                                         RefusalLine(ERROR_SHARING_VIOLATION, HeldOpen)});
    EXPECT_EQ(form.DownloadLines(), Expected(Base(), perFile));
    EXPECT_TRUE(form.ReportWritten());
    inUse.reset();
    ExpectOriginal(1);
    for (size_t i = 2; i < LiveProtectionFiles.size(); ++i)
        ExpectAlternative(i);
    ExpectNoPartialFiles();
    ExpectNothingLost();
}

// A second process that holds a file open as a loader or a scanner does:
// reading, and letting others read and delete it. A deletion then answers
// success and takes effect only when that process lets go.
class TFileHolder {
public:
    explicit TFileHolder(const std::wstring& APath) {
        TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        std::wstring commandLine = L"cmd.exe";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!file ||
            !::CreateProcessW((std::wstring(system) + L"\\cmd.exe").c_str(), commandLine.data(),
                              nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr,
                              nullptr, &startup, &process))
            throw std::runtime_error("no process to hold the file");
        TKernelHandle thread(process.hThread);
        FProcess.reset(process.hProcess);
        HANDLE held = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), file.get(), FProcess.get(), &held, 0, FALSE,
                               DUPLICATE_SAME_ACCESS))
            throw std::runtime_error("the file was not handed to the holder");
    }
    TFileHolder(const TFileHolder&) = delete;
    TFileHolder& operator=(const TFileHolder&) = delete;
    ~TFileHolder() { Release(); }

    // Ends the process, which closes the file.
    void Release() {
        if (!FProcess)
            return;
        ::TerminateProcess(FProcess.get(), 0);
        ::WaitForSingleObject(FProcess.get(), 10000);
        FProcess.reset();
    }

private:
    TKernelHandle FProcess;
};

TEST_F(AlternativeFiles, AFileHeldWithDeleteSharingIsNotReplacedAndStays) {
    TFileHolder holder(Installed(1));
    {
        // Held, by the other process only.
        TFileHandle exclusive(::CreateFileW(Installed(1).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_FALSE(exclusive);
        ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    std::vector<std::wstring> perFile = EachFile(L"[+] Backup for %s created.");
    perFile.insert(perFile.begin() + 1, {L"[-] Unable to delete for replacement: " + Installed(1),
                                         RefusalLine(ERROR_SHARING_VIOLATION, HeldOpen)});
    EXPECT_EQ(form.DownloadLines(), Expected(Base(), perFile));
    ExpectOriginal(1);
    // No deletion was left waiting: the file is still there once its holder is gone.
    holder.Release();
    ExpectOriginal(1);
    for (size_t i = 2; i < LiveProtectionFiles.size(); ++i)
        ExpectAlternative(i);
    ExpectNoPartialFiles();
    ExpectNothingLost();
}

// What a run ended half-way leaves behind: partial files, a backup copy cut
// short, installed paths empty beside their complete backups, a whole new
// build beside an empty installed path (the old file had left its name), old
// files under the names they left for.
TEST_F(AlternativeFiles, TheRunAfterAnInterruptedOneClearsItsLeftoversAndLeavesNoPathEmpty) {
    for (const wchar_t* name : {L"QVHook64.dll", L"QVHookDrv64.sys"})
        ::DeleteFileW((ServerRoot() + name).c_str());
    fs::create_directories(ProgramFolder() + BackupFolderName);
    for (size_t i : {1, 2, 4}) {
        WriteWholeFile(Backup(i), Content(LiveProtectionFiles[i], "original"));
        ::DeleteFileW(Installed(i).c_str());
    }
    for (size_t i : {1, 2})
        WriteWholeFile(Installed(i) + L".partial", "the start of a new build");
    WriteWholeFile(Backup(3) + L".partial", Content(L"QVHookDrv32.sys", "original").substr(0, 100));
    // The swap of QVHookDrv64.sys was begun: the new build is whole, the old
    // file has left its name. Its download fails now.
    WriteWholeFile(Installed(4) + L".partial", Content(L"QVHookDrv64.sys", "alternative"));
    WriteWholeFile(Installed(4) + L".3f-1a2b-0.replaced", Content(L"QVHookDrv64.sys", "original"));
    WriteWholeFile(Installed(5) + L".40-1a2b-1.replaced", Content(L"QVHookHelper.exe", "original"));
    // Not of the swap's making.
    WriteWholeFile(Installed(5) + L".replaced", "kept");

    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    std::vector<std::wstring> perFile = EachFile(L"[+] Backup for %s created.");
    perFile[0] = L"[i] Backup for QVHook32.dll exists.";
    perFile[1] = L"[i] Backup for QVHook64.dll exists.";
    perFile[3] = L"[i] Backup for QVHookDrv64.sys exists.";
    perFile.insert(perFile.begin() + 4, L"[-] Unable to download: 18");
    perFile.insert(perFile.begin() + 2,
                   {L"[-] Unable to download: 18", L"[+] Backup for QVHook64.dll restore."});
    EXPECT_EQ(form.DownloadLines(), Expected(Base(), perFile));
    EXPECT_TRUE(form.ReportWritten());
    ExpectAlternative(1);
    ExpectOriginal(2);
    EXPECT_TRUE(ReadWholeFile(Backup(3)) == Content(L"QVHookDrv32.sys", "original"));
    ExpectAlternative(4);
    EXPECT_FALSE(Exists(Installed(4) + L".3f-1a2b-0.replaced"));
    EXPECT_FALSE(Exists(Installed(5) + L".40-1a2b-1.replaced"));
    EXPECT_EQ(ReadWholeFile(Installed(5) + L".replaced"), "kept");
    ::DeleteFileW((Installed(5) + L".replaced").c_str());
    ExpectNoPartialFiles();
    ExpectNothingLost();
}

// Why a file stays: held by a program that lets no one delete it, loaded as
// an image, read-only. Each says so after the failure line, and nothing of
// the swap is left behind.
TEST_F(AlternativeFiles, AFileThatCannotGoSaysWhy) {
    struct TCase {
        const char* What;
        std::function<std::function<void()>(const std::wstring&)> Hold; // gives the release
        std::wstring Reason;
    };
    const TCase cases[] = {
        {"held without delete sharing",
         [](const std::wstring& APath) {
             auto file = std::make_shared<TFileHandle>(
                 ::CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
             EXPECT_TRUE(*file);
             return [file] { file->reset(); };
         },
         RefusalLine(ERROR_SHARING_VIOLATION, HeldOpen)},
        {"loaded as an image",
         [](const std::wstring& APath) {
             auto view = std::make_shared<TMappedView>(MapAsImage(APath));
             EXPECT_TRUE(*view);
             return [view] { view->reset(); };
         },
         L"[i] The system refused the deletion; error code is 5 (" +
             SystemMessage(ERROR_ACCESS_DENIED) +
             L"): a running program or driver has the file loaded."},
        {"read-only",
         [](const std::wstring& APath) {
             ::SetFileAttributesW(APath.c_str(), FILE_ATTRIBUTE_READONLY);
             return [APath] { ::SetFileAttributesW(APath.c_str(), FILE_ATTRIBUTE_NORMAL); };
         },
         RefusalLine(ERROR_ACCESS_DENIED, L"the file is read-only")},
    };
    for (const TCase& c : cases) {
        const std::function<void()> release = c.Hold(Installed(7));
        TAlternativeFilesForm form(FServices);
        form.ReplaceFile(Base(), 7);
        release();
        const std::vector<std::wstring> lines = form.DownloadLines();
        ASSERT_EQ(lines.size(), 3u) << c.What;
        EXPECT_EQ(lines[1], L"[-] Unable to delete for replacement: " + Installed(7)) << c.What;
        EXPECT_EQ(lines[2], c.Reason) << c.What;
        ExpectOriginal(7);
        ExpectNoPartialFiles();
        for (const fs::directory_entry& entry : fs::directory_iterator(ProgramFolder()))
            EXPECT_FALSE(entry.path().extension() == L".replaced") << entry.path().string();
    }
    // Let go, it is replaced.
    TAlternativeFilesForm form(FServices);
    form.ReplaceFile(Base(), 7);
    EXPECT_EQ(form.Lines, std::vector<std::wstring>{L"[i] Backup for QVHookInst64.exe exists."});
    ExpectAlternative(7);
}

// A program that looks at a file only (its attributes, as Explorer, indexers
// and scanners do) keeps no file from being replaced, and once it lets go the
// new file is still there and the old one gone.
TEST_F(AlternativeFiles, AFileHeldForItsAttributesOnlyIsReplaced) {
    TFileHandle looking(::CreateFileW(Installed(2).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(looking);
    TAlternativeFilesForm form(FServices);
    form.ReplaceFile(Base(), 2);
    EXPECT_EQ(form.Lines, std::vector<std::wstring>{L"[+] Backup for QVHook64.dll created."});
    ExpectAlternative(2);
    looking.reset();
    ExpectAlternative(2);
    for (const fs::directory_entry& entry : fs::directory_iterator(ProgramFolder()))
        EXPECT_FALSE(entry.path().extension() == L".replaced") << entry.path().string();
    ExpectNothingLost();
}

// Each way a restore can fail has its own line; the installed file and the
// backup stay as they were.
TEST_F(AlternativeFiles, ARestoreThatCannotBeDoneSaysWhy) {
    struct TCase {
        const char* What;
        bool Backup;
        bool Installed;
        DWORD InstalledShare; // held with this sharing, or not held when ~0
        DWORD BackupShare;
        std::wstring Line;
    };
    const DWORD free = ~0u;
    const TCase cases[] = {
        {"no backup", false, true, free, free, L"[-] Backup for QVHook32.dll missing!"},
        {"installed file in use", true, true, FILE_SHARE_READ, free,
         L"[-] Could not delete file QVHook32.dll: " + SystemMessage(ERROR_SHARING_VIOLATION)},
        {"backup unreadable", true, false, free, 0,
         L"[-] Backup restoration for QVHook32.dll failed: " +
             SystemMessage(ERROR_SHARING_VIOLATION)},
    };
    const std::string original = Content(L"QVHook32.dll", "original");
    const std::string installed = Content(L"QVHook32.dll", "alternative");
    const auto hold = [](const std::wstring& APath, DWORD AShare) {
        return TFileHandle(AShare == free
                               ? INVALID_HANDLE_VALUE
                               : ::CreateFileW(APath.c_str(), GENERIC_READ, AShare, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    for (const TCase& c : cases) {
        std::error_code ignored;
        fs::remove_all(ProgramFolder() + BackupFolderName, ignored);
        fs::create_directories(ProgramFolder() + BackupFolderName);
        if (c.Backup)
            WriteWholeFile(Backup(1), original);
        ::DeleteFileW(Installed(1).c_str());
        if (c.Installed)
            WriteWholeFile(Installed(1), installed);
        TFileHandle heldInstalled = hold(Installed(1), c.InstalledShare);
        TFileHandle heldBackup = hold(Backup(1), c.BackupShare);

        TAlternativeFilesForm form(FServices);
        EXPECT_FALSE(form.RestoreBackup(1)) << c.What;
        EXPECT_EQ(form.Lines, std::vector<std::wstring>{c.Line}) << c.What;
        heldInstalled.reset();
        heldBackup.reset();
        EXPECT_EQ(Exists(Installed(1)), c.Installed) << c.What;
        if (c.Installed) {
            EXPECT_EQ(ReadWholeFile(Installed(1)), installed) << c.What;
        }
        if (c.Backup) {
            EXPECT_EQ(ReadWholeFile(Backup(1)), original) << c.What;
        }
        ExpectNoPartialFiles();
    }
}

// The line of a file whose replacement failed, with its reason.
std::wstring ReplacingFailed(const std::wstring& AName, const std::wstring& AWhy) {
    return L"[-] Replacing " + AName + L" failed: " + AWhy;
}

// A write that fails (a full disk) fails its file alone: the new file is
// written before the old one is touched, so nothing is restored, and the
// press goes on with the next file and ends with its report.
TEST_F(AlternativeFiles, AWriteThatFailsLeavesTheInstalledFileAsItWas) {
    TAlternativeFilesForm form(FServices);
    form.FailingWrite = L"QVHookDrv64.sys";
    form.DownloadAlternativeFiles(Base());
    std::vector<std::wstring> lines = AllReplaced();
    lines.insert(lines.begin() + 3 + 4,
                 ReplacingFailed(L"QVHookDrv64.sys", L"Cannot write file \"" + Installed(4) +
                                                         L".partial\". " +
                                                         SystemMessage(ERROR_DISK_FULL)));
    EXPECT_EQ(form.DownloadLines(), lines);
    EXPECT_TRUE(form.ReportWritten());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ExpectBuild(i, i == 4 ? "original" : "alternative");
    ExpectNoPartialFiles();
    ExpectNothingLost();
}

// The new file is held by another program past the wait, so that it cannot
// take the name: the old file keeps it, the file fails alone.
TEST_F(AlternativeFiles, ANewFileThatCannotTakeTheNameLeavesTheOldOneInPlace) {
    TAlternativeFilesForm form(FServices);
    form.HeldWrite = L"QVHook64.dll";
    form.DownloadAlternativeFiles(Base());
    ASSERT_TRUE(form.Held);
    form.Held.reset();
    ::DeleteFileW((Installed(2) + L".partial").c_str());
    std::vector<std::wstring> lines = AllReplaced();
    lines.insert(lines.begin() + 3 + 2,
                 ReplacingFailed(L"QVHook64.dll", SystemMessage(ERROR_SHARING_VIOLATION)));
    EXPECT_EQ(form.DownloadLines(), lines);
    EXPECT_TRUE(form.ReportWritten());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ExpectBuild(i, i == 2 ? "original" : "alternative");
    for (const fs::directory_entry& entry : fs::directory_iterator(ProgramFolder()))
        EXPECT_FALSE(entry.path().extension() == L".replaced") << entry.path().string();
    ExpectNothingLost();
}

TEST_F(AlternativeFiles, NoBackupFolderNoReplacement) {
    WriteWholeFile(ProgramFolder() + L"LPBackup", "a file where the folder should be");
    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    const std::vector<std::wstring> lines = form.DownloadLines();
    ASSERT_EQ(lines.size(), 3u + 7);
    for (size_t i = 0; i < 7; ++i) {
        const std::wstring prefix = EachFile(L"[-] Backup for %s failed: ")[i];
        EXPECT_EQ(lines[3 + i].rfind(prefix, 0), 0u) << WideToUtf8(lines[3 + i]);
        EXPECT_GT(lines[3 + i].size(), prefix.size());
    }
    EXPECT_EQ(RequestLog().find(FilesPath), std::string::npos);
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ExpectOriginal(i);
}

TEST_F(AlternativeFiles, ALinkToAFolderGivesWayToTheFile) {
    // The installed name is a link to a folder; its backup was made earlier.
    fs::create_directories(ProgramFolder() + BackupFolderName);
    WriteWholeFile(Backup(2), Content(L"QVHook64.dll", "original"));
    const std::wstring target = ProgramFolder() + L"linktarget";
    fs::create_directories(target);
    WriteWholeFile(target + L"\\kept.txt", "kept");
    ::DeleteFileW(Installed(2).c_str());
    ::CreateSymbolicLinkW(Installed(2).c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    const DWORD attributes = ::GetFileAttributesW(Installed(2).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        // Wine 8 answers success but makes no link, and has no junctions either.
        GTEST_SKIP() << "this system makes no directory links";

    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    std::vector<std::wstring> perFile = EachFile(L"[+] Backup for %s created.");
    perFile[1] = L"[i] Backup for QVHook64.dll exists.";
    EXPECT_EQ(form.DownloadLines(), Expected(Base(), perFile));
    ExpectAlternative(2);
    EXPECT_EQ(ReadWholeFile(target + L"\\kept.txt"), "kept");
    ExpectNothingLost();
}

// The button, with the download behind the console's seam.
TEST_F(AlternativeFiles, TheButtonAsksForEachFileBelowItsAddress) {
    TFakeConsoleServices services;
    TAlternativeFilesForm form(services);
    form.SetDownloadBaseAddress(AlternativeFilesBaseAddress(L"download.vexlo.example"));
    const std::wstring base = L"https://download.vexlo.example" + AnsiToWide(FilesPath);
    EXPECT_EQ(form.DownloadBaseAddress(), base);
    services.Downloads[base + L"QVHook32.dll"] = {Content(L"QVHook32.dll", "new")};
    services.Downloads[base + L"QVHookHelper.exe"] = {"error page", false, 500};

    form.Action(TActionId::aDownload27Files).OnExecute();
    std::vector<std::wstring> urls;
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        urls.push_back(base + LiveProtectionFiles[i]);
    EXPECT_EQ(services.DownloadedURLs, urls);
    const std::vector<std::wstring> perFile = {
        L"[+] Backup for QVHook32.dll created.", L"[+] Backup for QVHook64.dll created.",
        L"[-] Unable to download: 18",           L"[+] Backup for QVHookDrv32.sys created.",
        L"[-] Unable to download: 18",           L"[+] Backup for QVHookDrv64.sys created.",
        L"[-] Unable to download: 18",           L"[+] Backup for QVHookHelper.exe created.",
        L"[-] Unable to download: 500",          L"[+] Backup for QVHookInst32.exe created.",
        L"[-] Unable to download: 18",           L"[+] Backup for QVHookInst64.exe created.",
        L"[-] Unable to download: 18",
    };
    EXPECT_EQ(form.DownloadLines(), Expected(base, perFile));
    EXPECT_EQ(ReadWholeFile(Installed(1)), Content(L"QVHook32.dll", "new"));
    // The state test is not run.
    EXPECT_EQ(
        std::count(services.Calls.begin(), services.Calls.end(), "IsInjectionDriverInstalled"), 0);
}

// An error raised inside the download fails its file alone; every file is
// asked for, and the report is written.
TEST_F(AlternativeFiles, AnErrorInTheDownloadFailsItsFileAlone) {
    TFakeConsoleServices services;
    services.Raising.insert("DownloadToStream");
    TAlternativeFilesForm form(services);
    form.DownloadAlternativeFiles(Base());
    const std::vector<std::wstring> lines = form.DownloadLines();
    ASSERT_EQ(lines.size(), 3u + 2 * 7);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(lines[3 + 2 * i], EachFile(L"[+] Backup for %s created.")[i]);
        const std::wstring failed =
            L"[-] Replacing " + std::wstring(LiveProtectionFiles[i + 1]) + L" failed: ";
        EXPECT_EQ(lines[4 + 2 * i].rfind(failed, 0), 0u) << WideToUtf8(lines[4 + 2 * i]);
    }
    EXPECT_EQ(services.DownloadedURLs.size(), 7u);
    EXPECT_TRUE(form.ReportWritten());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ExpectOriginal(i);
    ExpectNothingLost();
}

// An on-access scanner opens each new file as it appears, the backups too,
// and holds it for a moment, sharing nothing or reading: every file is
// installed all the same, byte for byte, and nothing of the swap is left.
TEST_F(AlternativeFiles, AScannerThatHoldsEachNewFileKeepsNoFileFromItsPlace) {
    const THeldFileWaitForTest wait(HeldFileWaitMs);
    for (const bool shareRead : {false, true}) {
        std::error_code ignored;
        fs::remove_all(ProgramFolder() + BackupFolderName, ignored);
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
            WriteWholeFile(Installed(i), Content(LiveProtectionFiles[i], "original"));
        TAlternativeFilesForm form(FServices);
        std::vector<std::wstring> held;
        {
            const TScannerProcess scanner(ScannerProgram(), ProgramFolder(), {300, shareRead, L""});
            form.DownloadAlternativeFiles(Base());
            held = scanner.Held();
        }
        EXPECT_EQ(form.DownloadLines(), AllReplaced()) << shareRead;
        EXPECT_TRUE(form.ReportWritten());
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
            ExpectAlternative(i);
        ExpectNoPartialFiles();
        ExpectNothingLost();
        ExpectHeldEachBackupAndBuild(held);
    }
}

// The kind comes from the file's role: an installed file that cannot be
// read for the moment does not let a build of another kind in, and an
// installed file of the wrong kind gives way to a build of the right one.
TEST_F(AlternativeFiles, TheKindComesFromTheFilesRoleNotFromWhatIsInstalled) {
    const std::string library32 = Content(L"QVHook32.dll", "alternative");
    WriteWholeFile(ServerRoot() + L"QVHook64.dll", library32);
    fs::create_directories(ProgramFolder() + BackupFolderName);
    WriteWholeFile(Backup(2), Content(L"QVHook64.dll", "original"));
    {
        // Held without sharing while its header would be read.
        const TFileHandle held(::CreateFileW(Installed(2).c_str(), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        TAlternativeFilesForm form(FServices);
        form.ReplaceFile(Base(), 2);
        EXPECT_EQ(form.Lines, (std::vector<std::wstring>{L"[i] Backup for QVHook64.dll exists.",
                                                         L"[-] Unable to download: 193"}));
    }
    ExpectOriginal(2);
    // The 32-bit library was installed in its place before; a 64-bit build
    // takes it.
    WriteWholeFile(Installed(2), library32);
    WriteWholeFile(ServerRoot() + L"QVHook64.dll", Content(L"QVHook64.dll", "alternative"));
    TAlternativeFilesForm form(FServices);
    form.ReplaceFile(Base(), 2);
    EXPECT_EQ(form.Lines, std::vector<std::wstring>{L"[i] Backup for QVHook64.dll exists."});
    ExpectAlternative(2);
}

// Libraries linked by LLVM's lld end in padding to their file alignment:
// whole images, installed byte for byte.
TEST_F(AlternativeFiles, LibrariesLinkedByLldAreInstalled) {
    const std::string lld64 = ReadWholeFile(FixturePath(L"..\\linkers\\lld-x64-g.dll"));
    const std::string lld32 = ReadWholeFile(FixturePath(L"..\\linkers\\lld-x86.dll"));
    ASSERT_FALSE(lld64.empty());
    ASSERT_FALSE(lld32.empty());
    WriteWholeFile(ServerRoot() + L"QVHook64.dll", lld64);
    WriteWholeFile(ServerRoot() + L"QVHook32.dll", lld32);
    TAlternativeFilesForm form(FServices);
    form.ReplaceFile(Base(), 1);
    form.ReplaceFile(Base(), 2);
    EXPECT_EQ(form.Lines, (std::vector<std::wstring>{L"[+] Backup for QVHook32.dll created.",
                                                     L"[+] Backup for QVHook64.dll created."}));
    EXPECT_TRUE(ReadWholeFile(Installed(1)) == lld32);
    EXPECT_TRUE(ReadWholeFile(Installed(2)) == lld64);
}

// A scanner quarantines the new build right after the swap: the old build
// comes back from the backup, with a line that says what happened, whether
// the swap saw it go or the end of the press found it gone.
TEST_F(AlternativeFiles, AQuarantinedNewBuildIsRestoredFromTheBackup) {
    const THeldFileWaitForTest wait(HeldFileWaitMs);
    TAlternativeFilesForm form(FServices);
    {
        const TScannerProcess scanner(ScannerProgram(), ProgramFolder(),
                                      {200, false, L"QVHook64.dll"});
        form.DownloadAlternativeFiles(Base());
        EXPECT_EQ(scanner.QuarantinedFile(), L"QVHook64.dll");
    }
    const std::vector<std::wstring> lines = form.DownloadLines();
    const auto removed =
        std::find(lines.begin(), lines.end(),
                  L"[-] The new build of QVHook64.dll was removed by another program.");
    ASSERT_NE(removed, lines.end());
    ASSERT_NE(removed + 1, lines.end());
    EXPECT_EQ(removed[1], L"[+] Backup for QVHook64.dll restore.");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& ALine) { return ALine.rfind(L"[-]", 0) == 0; }),
              1);
    EXPECT_TRUE(form.ReportWritten());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ExpectBuild(i, i == 2 ? "original" : "alternative");
    ExpectNoPartialFiles();
}

// The end of a press looks at every build it put in place: one another
// program took away (or changed) comes back from the backup.
TEST_F(AlternativeFiles, TheEndOfAPressFindsTheBuildsOtherProgramsTookAway) {
    TAlternativeFilesForm form(FServices);
    TReplacedBuilds replaced;
    for (size_t i : {1, 2, 3})
        form.ReplaceFile(Base(), i, &replaced);
    ASSERT_EQ(replaced.size(), 3u);
    ::DeleteFileW(Installed(1).c_str());
    WriteWholeFile(Installed(3), Content(L"QVHookDrv32.sys", "cleaned"));
    form.Lines.clear();
    CheckReplacedBuilds(form, replaced);
    EXPECT_EQ(form.Lines,
              (std::vector<std::wstring>{
                  L"[-] The new build of QVHook32.dll was removed by another program.",
                  L"[+] Backup for QVHook32.dll restore.",
                  L"[-] The new build of QVHookDrv32.sys was removed by another program.",
                  L"[+] Backup for QVHookDrv32.sys restore."}));
    ExpectOriginal(1);
    ExpectAlternative(2);
    ExpectOriginal(3);
}

// A replaced file keeps the hidden and system attributes the administrator
// gave the old one.
TEST_F(AlternativeFiles, HiddenAndSystemAttributesSurviveTheSwap) {
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(::SetFileAttributesW(Installed(4).c_str(), kept));
    TAlternativeFilesForm form(FServices);
    form.ReplaceFile(Base(), 4);
    EXPECT_EQ(form.Lines, std::vector<std::wstring>{L"[+] Backup for QVHookDrv64.sys created."});
    ExpectAlternative(4);
    EXPECT_EQ(::GetFileAttributesW(Installed(4).c_str()) & kept, kept);
    ::SetFileAttributesW(Installed(4).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The installed name is a link to a file in another folder: the swap
// replaces the name, and the file it led to is neither written nor deleted.
TEST_F(AlternativeFiles, ALinkedFileIsReplacedAndItsTargetLeftAlone) {
    const TScratchFolder elsewhere;
    const std::wstring target =
        elsewhere.Write(L"QVHook64.dll", Content(L"QVHook64.dll", "original"));
    ::DeleteFileW(Installed(2).c_str());
    if (!MakeFileLink(Installed(2), target))
        GTEST_SKIP() << "this system makes no file links";
    TAlternativeFilesForm form(FServices);
    form.ReplaceFile(Base(), 2);
    EXPECT_EQ(form.Lines, std::vector<std::wstring>{L"[+] Backup for QVHook64.dll created."});
    ExpectAlternative(2);
    EXPECT_TRUE(ReadWholeFile(target) == Content(L"QVHook64.dll", "original"));
    EXPECT_TRUE(ReadWholeFile(Backup(2)) == Content(L"QVHook64.dll", "original"));
}

// While a press runs on the folder (another window's), a press says so in
// one line and does nothing: no backup, no download, no report.
TEST_F(AlternativeFiles, ASecondPressOnTheFolderSaysSoAndDoesNothing) {
    std::promise<void> taken, done;
    std::thread otherWindow([&] {
        const TFolderLock lock(ProgramFolder(), AlternativeFilesLockPurpose);
        EXPECT_TRUE(lock.Taken());
        taken.set_value();
        done.get_future().wait();
    });
    taken.get_future().wait();
    TAlternativeFilesForm form(FServices);
    form.DownloadAlternativeFiles(Base());
    done.set_value();
    otherWindow.join();
    EXPECT_EQ(form.Lines, std::vector<std::wstring>{
                              L"[-] Another window is replacing the files of this folder; "
                              L"nothing was done."});
    EXPECT_EQ(RequestLog().find(FilesPath), std::string::npos);
    EXPECT_FALSE(Exists(ProgramFolder() + L"LPBackup"));
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ExpectOriginal(i);
    // Once it is over, a press runs.
    TAlternativeFilesForm after(FServices);
    after.DownloadAlternativeFiles(Base());
    EXPECT_EQ(after.DownloadLines(), AllReplaced());
}

} // namespace
