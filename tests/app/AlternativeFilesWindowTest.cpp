// The download button end to end: the tool built for a download server on the
// loopback address, in a copy of the demo folder, fetching the alternative
// builds over HTTPS from the loopback test server (its certificate from the
// test CA, trusted in the test prefix), then reporting the new digests.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Automation.h"
#include "DemoCopy.h"
#include "DownloadServer.h"
#include "FileDigest.h"
#include "LiveProtectionFiles.h"
#include "LoopbackServer.h"
#include "SystemMessage.h"
#include "TestCA.h"
#include "TestFiles.h"
#include "WinText.h"

namespace {

std::wstring Digest(const std::wstring& APath) {
    TFileDigest digest;
    DigestFile(APath, digest);
    return DigestToText(digest);
}

// The size of a file, -1 when there is none.
long long FileSize(const std::wstring& APath) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(APath.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::wstring> LinesAfter(const std::vector<std::wstring>& AAll, size_t AFirst) {
    return std::vector<std::wstring>(AAll.begin() + static_cast<long>(AFirst), AAll.end());
}

// The lines of the run up to the closing report.
std::vector<std::wstring> DownloadLines(const std::vector<std::wstring>& ALines) {
    auto end = std::find(ALines.begin(), ALines.end(), L"[ Windows ]");
    if (end != ALines.begin() && end != ALines.end())
        --end; // the report's empty first line
    return std::vector<std::wstring>(ALines.begin(), end);
}

// Bytes that tell a build apart, appended to a real program so that it stays
// a whole image; a few MiB, so that copies, writes and flushes take a while.
std::string Tail(const std::string& AVersion, const std::wstring& AName, size_t ASize) {
    std::string bytes = AVersion + " " + WideToUtf8(AName) + "\n";
    while (bytes.size() < ASize)
        bytes += bytes.substr(0, std::min<size_t>(bytes.size(), ASize - bytes.size()));
    return bytes;
}

TEST(AlternativeFilesWindow, TheButtonReplacesTheFilesAndTheReportShowsTheNewDigests) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    TDemoCopy demo(L"alternativefiles-window");
    const std::wstring tool = demo.AddProgram(L"derodo_loopbackdownload.exe");

    // The alternative builds: the installed programs with something appended.
    const std::wstring served = MakeTestFolder(L"alternativefiles-served");
    std::vector<std::string> originals(LiveProtectionFiles.size());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        originals[i] = ReadWholeFile(demo.File(LiveProtectionFiles[i]));
        ASSERT_FALSE(originals[i].empty());
        WriteWholeFile(served + LiveProtectionFiles[i], originals[i] + "alternative build 2.7\n");
    }
    TLoopbackServer server(DownloadServer(served));

    TAutomatedTool window(tool);
    ASSERT_NE(window.WaitForMainWindow(), nullptr);
    const std::vector<std::wstring> startUp = window.LogLines();
    EXPECT_FALSE(window.Press(L"Download alternative files #1").has_value());
    const std::vector<std::wstring> all = window.LogLines();
    ASSERT_GT(all.size(), startUp.size());
    const std::vector<std::wstring> lines(all.begin() + static_cast<long>(startUp.size()),
                                          all.end());

    std::vector<std::wstring> expected = {
        L"", L"[ File Download ]",
        L"[i] https://127.0.0.1:" + std::to_wstring(DERODO_LOOPBACK_DOWNLOAD_PORT) +
            L"/Vexlo2/special-purpose-test-versions/RodeVadudazovi/files-2.7/"};
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        expected.push_back(L"[+] Backup for " + std::wstring(LiveProtectionFiles[i]) +
                           L" created.");
    ASSERT_GE(lines.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + expected.size()), expected);
    // Then the report again, with the new digests; the file-scan service's
    // program is as it was.
    EXPECT_EQ(lines[expected.size() + 1], L"[ Windows ]");
    const auto versions = [](const std::vector<std::wstring>& ALines) {
        const auto start = std::find(ALines.begin(), ALines.end(), L"[ Versions ]");
        return std::vector<std::wstring>(start + 1, start + 1 + 8);
    };
    const std::vector<std::wstring> before = versions(startUp), after = versions(lines);
    EXPECT_EQ(after[0], before[0]);
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring digest = Digest(served + LiveProtectionFiles[i]);
        EXPECT_EQ(after[i].substr(after[i].size() - digest.size()), digest) << WideToUtf8(after[i]);
        EXPECT_NE(before[i], after[i]);
        EXPECT_EQ(ReadWholeFile(demo.File(LiveProtectionFiles[i])),
                  originals[i] + "alternative build 2.7\n");
        EXPECT_EQ(ReadWholeFile(demo.File(std::wstring(L"LPBackup\\") + LiveProtectionFiles[i])),
                  originals[i]);
    }
    EXPECT_EQ(window.Close(), 0u);
}

// Where the kill test ends the tool: once a path appears, once a path is gone
// or holds other bytes than before, or after some seconds.
enum class TKillWhen { Appears, Changes, After };
struct TKillPoint {
    TKillWhen Kind;
    std::wstring Path; // below the program folder
    double Seconds = 0;
};

TEST(AlternativeFilesWindow, AToolKilledAtAnyPointLeavesEveryFileWholeAndTheNextRunEndsTheSwap) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    TDemoCopy demo(L"alternativefiles-kill");
    const std::wstring tool = demo.AddProgram(L"derodo_loopbackdownload.exe");
    const std::wstring served = MakeTestFolder(L"alternativefiles-kill-served");
    std::vector<std::string> originals(LiveProtectionFiles.size()), builds(originals.size());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        const std::string program = ReadWholeFile(demo.File(name));
        ASSERT_FALSE(program.empty());
        originals[i] = program + Tail("installed", name, 2 << 20);
        // A size of its own, so that the moment the new build takes the
        // installed file's place shows in its size.
        builds[i] = program + Tail("alternative build 2.7", name, (2 << 20) + 4096);
        WriteWholeFile(demo.File(name), originals[i]);
        WriteWholeFile(served + name, builds[i]);
    }
    const std::string service = ReadWholeFile(demo.File(LiveProtectionFiles[0]));
    // Each file takes a while on the way, so that the tool can be caught in
    // any of its downloads.
    TLoopbackServer server(DownloadServer(served, 0.3));

    const auto backup = [&](size_t AIndex) {
        return demo.File(std::wstring(L"LPBackup\\") + LiveProtectionFiles[AIndex]);
    };
    const auto expectEveryFileWhole = [&](const std::string& AWhen) {
        for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
            const std::string name = WideToUtf8(LiveProtectionFiles[i]) + " " + AWhen;
            const bool backedUp = Exists(backup(i));
            if (backedUp) {
                EXPECT_TRUE(ReadWholeFile(backup(i)) == originals[i])
                    << "the backup of " << name << " is not the original";
            }
            if (Exists(demo.File(LiveProtectionFiles[i]))) {
                const std::string installed = ReadWholeFile(demo.File(LiveProtectionFiles[i]));
                EXPECT_TRUE(installed == originals[i] || installed == builds[i])
                    << name << " holds " << installed.size() << " other bytes";
            } else {
                EXPECT_TRUE(backedUp) << name << " is gone, and so is its backup";
            }
        }
        EXPECT_EQ(ReadWholeFile(demo.File(LiveProtectionFiles[0])), service) << AWhen;
    };

    using enum TKillWhen;
    const std::vector<TKillPoint> killPoints = {
        {Appears, L"LPBackup\\QVHook32.dll.partial"},
        {Appears, L"QVHook32.dll.partial"},
        {Changes, L"QVHook32.dll"},
        {After, L"", 0.2},
        {Appears, L"LPBackup\\QVHookDrv32.sys.partial"},
        {Appears, L"QVHookDrv32.sys.partial"},
        {Changes, L"QVHookDrv32.sys"},
        {After, L"", 0.9},
        {Appears, L"LPBackup\\QVHookHelper.exe.partial"},
        {Appears, L"QVHookHelper.exe.partial"},
        {Changes, L"QVHookHelper.exe"},
        {Changes, L"QVHookInst64.exe"},
    };
    for (const TKillPoint& point : killPoints) {
        const std::string when = "after a kill at " + WideToUtf8(point.Path) + " " +
                                 std::to_string(static_cast<int>(point.Kind)) + " " +
                                 std::to_string(point.Seconds);
        TAutomatedTool window(tool);
        ASSERT_NE(window.WaitForMainWindow(), nullptr) << when;
        const std::wstring path = demo.File(point.Path);
        const long long before = FileSize(path);
        const auto start = std::chrono::steady_clock::now();
        const auto elapsed = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        window.Click(L"Download alternative files #1");
        // At the latest when the run is over.
        while (window.PressPending() && elapsed() < 15) {
            if (point.Kind == Appears && Exists(path))
                break;
            if (point.Kind == Changes && FileSize(path) != before)
                break;
            if (point.Kind == After && elapsed() >= point.Seconds)
                break;
            std::this_thread::yield();
        }
        window.Kill();
        expectEveryFileWhole(when);
    }

    // An undisturbed run clears what the kills left and ends the swap.
    TAutomatedTool window(tool);
    ASSERT_NE(window.WaitForMainWindow(), nullptr);
    const size_t startUp = window.LogLines().size();
    EXPECT_FALSE(window.Press(L"Download alternative files #1").has_value());
    const std::vector<std::wstring> lines = LinesAfter(window.LogLines(), startUp);
    for (const std::wstring& line : DownloadLines(lines))
        EXPECT_NE(line.rfind(L"[-]", 0), 0u) << WideToUtf8(line);
    const auto versions = std::find(lines.begin(), lines.end(), L"[ Versions ]");
    ASSERT_LT(versions + 8, lines.end());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        const std::wstring digest = Digest(served + name);
        const std::wstring reported = versions[1 + static_cast<long>(i)];
        EXPECT_EQ(reported.substr(reported.size() - digest.size()), digest) << WideToUtf8(name);
        EXPECT_TRUE(ReadWholeFile(demo.File(name)) == builds[i]) << WideToUtf8(name);
        EXPECT_TRUE(ReadWholeFile(backup(i)) == originals[i]) << WideToUtf8(name);
        EXPECT_FALSE(Exists(demo.File(name + L".partial"))) << WideToUtf8(name);
        EXPECT_FALSE(Exists(backup(i) + L".partial")) << WideToUtf8(name);
    }
    EXPECT_EQ(window.Close(), 0u);
}

// A small volume of its own, mounted for one test: Wine reaches it through
// drive Z:, which maps the Unix root.
class TSmallVolume {
public:
    explicit TSmallVolume(const std::wstring& AName, const std::wstring& ASize)
        : FUnixFolder(L"/tmp/" + AName + L"-" + std::to_wstring(::GetCurrentProcessId())) {
        // A system that lets us mount nothing says so beside the folder.
        Shell(L"mkdir -p " + FUnixFolder + L" && (mount -t tmpfs -o size=" + ASize + L" tmpfs " +
              FUnixFolder + L" && touch " + FUnixFolder + L"/mounted || touch " + FUnixFolder +
              L".refused)");
        WaitUntil([&] { return Exists(Folder() + L"mounted") || Refused(); });
    }
    TSmallVolume(const TSmallVolume&) = delete;
    TSmallVolume& operator=(const TSmallVolume&) = delete;
    ~TSmallVolume() {
        // Detached at once even while a killed program's files are still open.
        if (Refused()) {
            Shell(L"rmdir " + FUnixFolder + L"; rm -f " + FUnixFolder + L".refused");
            return;
        }
        Shell(L"umount -l " + FUnixFolder + L" && rmdir " + FUnixFolder);
        WaitUntil([&] { return !Exists(Folder() + L"mounted"); });
    }

    bool Mounted() const { return Exists(Folder() + L"mounted"); }
    bool Refused() const {
        std::wstring marker = L"Z:" + FUnixFolder + L".refused";
        std::replace(marker.begin(), marker.end(), L'/', L'\\');
        return Exists(marker);
    }
    // The folder, with its trailing "\".
    std::wstring Folder() const {
        std::wstring folder = L"Z:" + FUnixFolder + L"\\";
        std::replace(folder.begin(), folder.end(), L'/', L'\\');
        return folder;
    }

private:
    // Wine starts a Unix program named by its Unix path; its end is seen in
    // what it does, not waited for.
    static void Shell(std::wstring ACommand) {
        std::wstring commandLine = L"/bin/sh -c \"" + ACommand + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process)) {
            TKernelHandle thread(process.hThread), handle(process.hProcess);
        }
    }
    template <typename Predicate> static void WaitUntil(Predicate APredicate) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!APredicate() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    std::wstring FUnixFolder;
};

TEST(AlternativeFilesWindow, AWriteThatFillsTheVolumeLeavesTheInstalledFileAsItWas) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    TSmallVolume volume(L"derodo-fullvolume", L"40m");
    if (volume.Refused())
        GTEST_SKIP() << "this system lets the tests mount no volume";
    ASSERT_TRUE(volume.Mounted()) << "no volume mounted at " << WideToUtf8(volume.Folder());
    TDemoCopy demo(L"alternativefiles-fullvolume");
    const std::wstring folder = volume.Folder();
    const std::wstring tool = folder + L"derodo_loopbackdownload.exe";
    ASSERT_TRUE(::CopyFileW((TestProgramFolder() + L"derodo_loopbackdownload.exe").c_str(),
                            tool.c_str(), FALSE));
    for (const wchar_t* name : LiveProtectionFiles)
        ASSERT_TRUE(::CopyFileW(demo.File(name).c_str(), (folder + name).c_str(), FALSE));
    // The new build is larger than all the room there is left on the volume.
    ULARGE_INTEGER free{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr));
    const std::wstring served = MakeTestFolder(L"alternativefiles-fullvolume-served");
    const std::string original = ReadWholeFile(folder + L"QVHook32.dll");
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        WriteWholeFile(served + LiveProtectionFiles[i],
                       ReadWholeFile(folder + LiveProtectionFiles[i]));
    WriteWholeFile(served + L"QVHook32.dll",
                   original + Tail("alternative build 2.7", L"QVHook32.dll",
                                   static_cast<size_t>(free.QuadPart) + (1 << 20)));
    TLoopbackServer server(DownloadServer(served));

    TAutomatedTool window(tool);
    ASSERT_NE(window.WaitForMainWindow(), nullptr);
    const size_t startUp = window.LogLines().size();
    const std::optional<TMessageBoxInfo> box = window.Press(L"Download alternative files #1");
    // The error ends the run, and nothing was deleted, so nothing is restored.
    ASSERT_TRUE(box.has_value());
    EXPECT_NE(box->Text.find(SystemMessage(ERROR_DISK_FULL)), std::wstring::npos)
        << WideToUtf8(box->Text);
    const std::vector<std::wstring> lines = LinesAfter(window.LogLines(), startUp);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], L"[+] Backup for QVHook32.dll created.");
    EXPECT_EQ(lines.size(), 4u) << WideToUtf8(lines.back());
    EXPECT_TRUE(ReadWholeFile(folder + L"QVHook32.dll") == original);
    EXPECT_FALSE(Exists(folder + L"QVHook32.dll.partial"));
    window.Answer(*box, IDOK);
    EXPECT_EQ(window.Close(), 0u);
}

} // namespace
