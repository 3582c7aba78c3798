// The download button end to end: the tool built for a download server on the
// loopback address, in a copy of the demo folder, fetching the alternative
// builds over HTTPS from the loopback test server (its certificate from the
// test CA, trusted in the test prefix), then reporting the new digests.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/LiveProtectionFiles.h"
#include "fileinfo/FileDigest.h"
#include "fixtures/fileidentity/TestCA.h"
#include "platform/SystemMessage.h"
#include "platform/WinText.h"
#include "tests/app/DownloadServer.h"
#include "tests/automation/Automation.h"
#include "tests/automation/DemoCopy.h"
#include "tests/automation/LoopbackServer.h"
#include "tests/automation/ScannerProcess.h"
#include "tests/support/SmallVolume.h"
#include "tests/support/TestBuilds.h"
#include "tests/support/TestFiles.h"

namespace {

std::wstring Digest(const std::wstring& APath) {
    TFileDigest digest;
    DWORD error = ERROR_SUCCESS;
    if (!DigestFile(APath, digest, error))
        ADD_FAILURE() << WideToUtf8(APath) << " cannot be read: " << error;
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

// One press of the button in a fresh start of the tool, which is then
// closed: the lines the press wrote.
std::vector<std::wstring> PressOnce(const std::wstring& ATool) {
    TAutomatedTool window(ATool);
    if (!window.WaitForMainWindow()) {
        ADD_FAILURE() << "no window";
        return {};
    }
    const size_t startUp = window.LogLines().size();
    EXPECT_FALSE(window.Press(L"Download alternative files #1").has_value());
    std::vector<std::wstring> lines = LinesAfter(window.LogLines(), startUp);
    EXPECT_EQ(window.Close(), 0u);
    return lines;
}

// The lines of the run up to the closing report.
std::vector<std::wstring> DownloadLines(const std::vector<std::wstring>& ALines) {
    auto end = std::find(ALines.begin(), ALines.end(), L"[ Windows ]");
    if (end != ALines.begin() && end != ALines.end())
        --end; // the report's empty first line
    return std::vector<std::wstring>(ALines.begin(), end);
}

// A build of the installed program AImage told apart by its version inside
// it; of ASize bytes more, so that copies, writes and flushes may take a while.
std::string Build(const std::string& AImage, const std::string& AVersion, const std::wstring& AName,
                  size_t ASize = 0) {
    return ImageBuild(AImage, AVersion + " " + WideToUtf8(AName) + "\n", ASize);
}

// The installed files of a demo copy, by index, and the alternative builds
// the folder AServed then holds for them: the installed images with a
// version of their own.
struct TServedBuilds {
    std::vector<std::string> Originals, Builds;
};

TServedBuilds ServeBuilds(const TDemoCopy& ADemo, const std::wstring& AServed) {
    TServedBuilds served{std::vector<std::string>(LiveProtectionFiles.size()),
                         std::vector<std::string>(LiveProtectionFiles.size())};
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        served.Originals[i] = ReadWholeFile(ADemo.File(name));
        if (served.Originals[i].empty())
            throw std::runtime_error("the demo copy has no " + WideToUtf8(name));
        served.Builds[i] = Build(served.Originals[i], "alternative build 2.7", name);
        WriteWholeFile(AServed + name, served.Builds[i]);
    }
    return served;
}

// A demo copy of the name AName with the loopback build of the tool, and the
// download server with an alternative build of each file.
struct TSwapScene {
    explicit TSwapScene(const std::wstring& AName)
        : Demo(AName), Tool(Demo.AddProgram(L"derodo_loopbackdownload.exe")),
          Served(MakeTestFolder(AName + L"-served")), Files(ServeBuilds(Demo, Served)),
          Server(DownloadServer(Served)) {}

    TDemoCopy Demo;
    std::wstring Tool, Served;
    TServedBuilds Files;
    TLoopbackServer Server;
};

TEST(AlternativeFilesWindow, TheButtonReplacesTheFilesAndTheReportShowsTheNewDigests) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    const TSwapScene scene(L"alternativefiles-window");
    const TDemoCopy& demo = scene.Demo;
    const auto& [originals, builds] = scene.Files;

    TAutomatedTool window(scene.Tool);
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
        const std::wstring digest = Digest(scene.Served + LiveProtectionFiles[i]);
        EXPECT_EQ(after[i].substr(after[i].size() - digest.size()), digest) << WideToUtf8(after[i]);
        EXPECT_NE(before[i], after[i]);
        EXPECT_TRUE(ReadWholeFile(demo.File(LiveProtectionFiles[i])) == builds[i])
            << WideToUtf8(LiveProtectionFiles[i]);
        EXPECT_TRUE(ReadWholeFile(demo.File(std::wstring(L"LPBackup\\") +
                                            LiveProtectionFiles[i])) == originals[i])
            << WideToUtf8(LiveProtectionFiles[i]);
    }
    EXPECT_EQ(window.Close(), 0u);
}

// Other programs hold files while the button runs: one looks at
// QVHook64.dll's attributes (as Explorer, indexers and scanners do), one has
// QVHookInst64.exe mapped as an image (as a running program has). The first is
// replaced at once, the second stays and says why; once both let go nothing
// is lost, and a second press ends the swap.
TEST(AlternativeFilesWindow, FilesOtherProgramsHoldLoseNothingAndASecondPressEndsTheSwap) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    const TSwapScene scene(L"alternativefiles-held");
    const TDemoCopy& demo = scene.Demo;
    const auto& [originals, builds] = scene.Files;

    const std::wstring looked = demo.File(L"QVHook64.dll");
    const std::wstring loaded = demo.File(L"QVHookInst64.exe");
    TFileHandle looking(::CreateFileW(looked.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(looking);
    TMappedView image = MapAsImage(loaded);
    ASSERT_TRUE(image);

    TAutomatedTool window(scene.Tool);
    ASSERT_NE(window.WaitForMainWindow(), nullptr);
    size_t startUp = window.LogLines().size();
    EXPECT_FALSE(window.Press(L"Download alternative files #1").has_value());
    const std::vector<std::wstring> header = {L"", L"[ File Download ]",
                                              L"[i] https://127.0.0.1:" +
                                                  std::to_wstring(DERODO_LOOPBACK_DOWNLOAD_PORT) +
                                                  AnsiToWide(FilesPath)};
    std::vector<std::wstring> expected = header;
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        expected.push_back(L"[+] Backup for " + std::wstring(LiveProtectionFiles[i]) +
                           L" created.");
    expected.push_back(L"[-] Unable to delete for replacement: " + loaded);
    expected.push_back(L"[i] The system refused the deletion; error code is 5 (" +
                       SystemMessage(ERROR_ACCESS_DENIED) +
                       L"): a running program or driver has the file loaded.");
    EXPECT_EQ(DownloadLines(LinesAfter(window.LogLines(), startUp)), expected);
    // While they still hold them.
    EXPECT_TRUE(ReadWholeFile(looked) == builds[2]);
    EXPECT_TRUE(ReadWholeFile(loaded) == originals[7]);

    looking.reset();
    image.reset();
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        const std::string installed = ReadWholeFile(demo.File(name));
        EXPECT_TRUE(installed == (i == 7 ? originals[i] : builds[i]))
            << WideToUtf8(name) << " holds " << installed.size() << " bytes";
        EXPECT_TRUE(ReadWholeFile(demo.File(L"LPBackup\\" + name)) == originals[i])
            << WideToUtf8(name);
    }
    for (const auto& entry : std::filesystem::directory_iterator(demo.Folder())) {
        const std::wstring extension = entry.path().extension().wstring();
        EXPECT_TRUE(extension != L".replaced" && extension != L".partial") << entry.path().string();
    }

    startUp = window.LogLines().size();
    EXPECT_FALSE(window.Press(L"Download alternative files #1").has_value());
    expected = header;
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        expected.push_back(L"[i] Backup for " + std::wstring(LiveProtectionFiles[i]) + L" exists.");
    EXPECT_EQ(DownloadLines(LinesAfter(window.LogLines(), startUp)), expected);
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        EXPECT_TRUE(ReadWholeFile(demo.File(LiveProtectionFiles[i])) == builds[i])
            << WideToUtf8(LiveProtectionFiles[i]);
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
        originals[i] = Build(program, "installed", name, 2 << 20);
        // A size of its own, so that the moment the new build takes the
        // installed file's place shows in its size.
        builds[i] = Build(program, "alternative build 2.7", name, (2 << 20) + 4096);
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

    // A run ended between the old file leaving its name and the new one
    // taking it leaves the new build whole in its partial file beside an
    // empty installed path, and the old file under the name it left for. The
    // gap is a few system calls, too short for a kill from outside to land
    // in: the state is made here as the run leaves it. The next run finishes
    // that swap, also when every download of its own fails.
    const std::wstring begun = demo.File(L"QVHookDrv64.sys");
    if (!Exists(backup(4)))
        WriteWholeFile(backup(4), originals[4]);
    WriteWholeFile(begun + L".partial", builds[4]);
    ASSERT_TRUE(::MoveFileW(begun.c_str(), (begun + L".1f-2e-0.replaced").c_str()));
    const std::wstring away = MakeTestFolder(L"alternativefiles-kill-away");
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ASSERT_TRUE(::MoveFileW((served + LiveProtectionFiles[i]).c_str(),
                                (away + LiveProtectionFiles[i]).c_str()));
    {
        const std::vector<std::wstring> lines = DownloadLines(PressOnce(tool));
        EXPECT_EQ(std::count(lines.begin(), lines.end(), L"[-] Unable to download: 18"), 7);
        for (const std::wstring& line : lines)
            EXPECT_TRUE(line.rfind(L"[-]", 0) != 0 || line == L"[-] Unable to download: 18")
                << WideToUtf8(line);
        EXPECT_EQ(
            std::count(lines.begin(), lines.end(), L"[+] Backup for QVHookDrv64.sys restore."), 0);
        EXPECT_TRUE(ReadWholeFile(begun) == builds[4])
            << "QVHookDrv64.sys holds " << ReadWholeFile(begun).size() << " bytes";
        EXPECT_FALSE(Exists(begun + L".partial"));
        EXPECT_FALSE(Exists(begun + L".1f-2e-0.replaced"));
        expectEveryFileWhole("after the run that finished a begun swap");
    }
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        ASSERT_TRUE(::MoveFileW((away + LiveProtectionFiles[i]).c_str(),
                                (served + LiveProtectionFiles[i]).c_str()));

    // An undisturbed run clears what the kills left and ends the swap.
    const std::vector<std::wstring> lines = PressOnce(tool);
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
}

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
                   Build(original, "alternative build 2.7", L"QVHook32.dll",
                         static_cast<size_t>(free.QuadPart) + (1 << 20)));
    TLoopbackServer server(DownloadServer(served));

    TAutomatedTool window(tool);
    ASSERT_NE(window.WaitForMainWindow(), nullptr);
    const size_t startUp = window.LogLines().size();
    // No box: the write fails its file alone, nothing was deleted, so nothing
    // is restored; the partial file goes and the next files are handled.
    EXPECT_FALSE(window.Press(L"Download alternative files #1").has_value());
    const std::vector<std::wstring> lines = DownloadLines(LinesAfter(window.LogLines(), startUp));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[3], L"[+] Backup for QVHook32.dll created.");
    EXPECT_EQ(lines[4].rfind(L"[-] Replacing QVHook32.dll failed: Cannot write file", 0), 0u)
        << WideToUtf8(lines[4]);
    EXPECT_NE(lines[4].find(SystemMessage(ERROR_DISK_FULL)), std::wstring::npos)
        << WideToUtf8(lines[4]);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"[+] Backup for QVHookInst64.exe created."),
              1);
    EXPECT_TRUE(ReadWholeFile(folder + L"QVHook32.dll") == original);
    EXPECT_FALSE(Exists(folder + L"QVHook32.dll.partial"));
    EXPECT_EQ(window.Close(), 0u);
}

// Every new file of the folder, the backups too, is opened by a scanner as it
// appears and held for a while, sharing nothing or reading: every press
// installs all seven builds byte for byte, leaves no partial file and ends
// with its report.
void ExpectEveryFileInstalledBesideAScanner(const std::wstring& AName,
                                            const TScannerOptions& AOptions) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    const TSwapScene scene(AName);
    const auto& [originals, builds] = scene.Files;
    std::vector<std::wstring> lines, held;
    {
        const TScannerProcess scanner(TestProgramFolder() + L"scanner.exe", scene.Demo.Folder(),
                                      AOptions);
        lines = PressOnce(scene.Tool);
        held = scanner.Held();
    }
    std::vector<std::wstring> expected = {L"", L"[ File Download ]",
                                          L"[i] https://127.0.0.1:" +
                                              std::to_wstring(DERODO_LOOPBACK_DOWNLOAD_PORT) +
                                              AnsiToWide(FilesPath)};
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        expected.push_back(L"[+] Backup for " + std::wstring(LiveProtectionFiles[i]) +
                           L" created.");
    EXPECT_EQ(DownloadLines(lines), expected);
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"[ Windows ]"), lines.end());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        EXPECT_TRUE(ReadWholeFile(scene.Demo.File(name)) == builds[i]) << WideToUtf8(name);
        EXPECT_TRUE(ReadWholeFile(scene.Demo.File(L"LPBackup\\" + name)) == originals[i])
            << WideToUtf8(name);
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scene.Demo.Folder()))
        EXPECT_NE(entry.path().extension().wstring(), L".partial") << entry.path().string();
    // It did open each backup and each new build as it appeared.
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        for (const std::wstring& name : {std::wstring(LiveProtectionFiles[i]),
                                         L"LPBackup\\" + std::wstring(LiveProtectionFiles[i])})
            EXPECT_NE(std::find(held.begin(), held.end(), name), held.end())
                << WideToUtf8(name) << " was not held";
    }
}

TEST(AlternativeFilesWindow, AScannerHoldingEachNewFileForASecondSharingNothing) {
    ExpectEveryFileInstalledBesideAScanner(L"alternativefiles-scanner-1s", {1000, false, L""});
}

TEST(AlternativeFilesWindow, AScannerHoldingEachNewFileForThreeSecondsSharingReading) {
    ExpectEveryFileInstalledBesideAScanner(L"alternativefiles-scanner-3s", {3000, true, L""});
}

// Another program holds one installed file, for a minute: that file fails
// alone, with its line and the reason, once the tool's wait for it has
// passed; the other six are installed, and the report is written.
TEST(AlternativeFilesWindow, AFileHeldForAMinuteFailsAloneAndTheOthersAreInstalled) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    const TSwapScene scene(L"alternativefiles-held-minute");
    const auto& [originals, builds] = scene.Files;
    const std::wstring held = scene.Demo.File(L"QVHookHelper.exe");
    const TFileHandle holder(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    std::vector<std::wstring> lines;
    {
        TAutomatedTool window(scene.Tool);
        const HWND main = window.WaitForMainWindow();
        ASSERT_TRUE(main);
        const size_t startUp = window.LogLines().size();
        window.Click(L"Download alternative files #1");
        // The window answers while the press waits for the held file, as it
        // does during a download: Windows calls one silent for 5 s hung.
        int unanswered = 0;
        const auto end = std::chrono::steady_clock::now() + 120s;
        while (window.PressPending() && std::chrono::steady_clock::now() < end) {
            DWORD_PTR result = 0;
            if (!::SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result))
                ++unanswered;
            std::this_thread::sleep_for(200ms);
        }
        ASSERT_FALSE(window.PressPending());
        EXPECT_EQ(unanswered, 0);
        lines = LinesAfter(window.LogLines(), startUp);
        EXPECT_EQ(window.Close(), 0u);
    }
    const std::vector<std::wstring> download = DownloadLines(lines);
    const auto failure = std::find(download.begin(), download.end(),
                                   L"[-] Unable to delete for replacement: " + held);
    ASSERT_NE(failure, download.end());
    ASSERT_NE(failure + 1, download.end());
    EXPECT_EQ(failure[1], L"[i] The system refused the deletion; error code is 32 (" +
                              SystemMessage(ERROR_SHARING_VIOLATION) +
                              L"): another program holds the file open.");
    EXPECT_EQ(std::count_if(download.begin(), download.end(),
                            [](const std::wstring& ALine) { return ALine.rfind(L"[-]", 0) == 0; }),
              1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"[ Windows ]"), lines.end());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        EXPECT_TRUE(ReadWholeFile(scene.Demo.File(name)) == (i == 5 ? originals[i] : builds[i]))
            << WideToUtf8(name);
    }
    EXPECT_FALSE(Exists(held + L".partial"));
}

// Two windows of the tool on one folder, pressed at the same time: one
// replaces the files, the other says so in one line and does nothing.
TEST(AlternativeFilesWindow, TwoWindowsOnOneFolderPressOneAtATime) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    TDemoCopy demo(L"alternativefiles-two-windows");
    const std::wstring tool = demo.AddProgram(L"derodo_loopbackdownload.exe");
    const std::wstring served = MakeTestFolder(L"alternativefiles-two-windows-served");
    const TServedBuilds files = ServeBuilds(demo, served);
    // Slowly, so that the first press still runs when the second comes.
    const TLoopbackServer server(DownloadServer(served, 0.5));
    TAutomatedTool first(tool), second(tool);
    ASSERT_NE(first.WaitForMainWindow(), nullptr);
    ASSERT_NE(second.WaitForMainWindow(), nullptr);
    const size_t firstStart = first.LogLines().size(), secondStart = second.LogLines().size();
    first.Click(L"Download alternative files #1");
    while (first.PressPending() && !Exists(demo.File(L"LPBackup\\QVHook32.dll")))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(first.PressPending());
    EXPECT_FALSE(second.Press(L"Download alternative files #1").has_value());
    EXPECT_EQ(LinesAfter(second.LogLines(), secondStart),
              std::vector<std::wstring>{
                  L"[-] Another window is replacing the files of this folder; nothing was done."});
    EXPECT_TRUE(first.PressPending());
    while (first.PressPending())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<std::wstring> lines = DownloadLines(LinesAfter(first.LogLines(), firstStart));
    for (const std::wstring& line : lines)
        EXPECT_NE(line.rfind(L"[-]", 0), 0u) << WideToUtf8(line);
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        EXPECT_TRUE(ReadWholeFile(demo.File(LiveProtectionFiles[i])) == files.Builds[i])
            << WideToUtf8(LiveProtectionFiles[i]);
    EXPECT_EQ(first.Close(), 0u);
    EXPECT_EQ(second.Close(), 0u);
}

} // namespace
