// The Live Protection buttons end to end: the real tool in a copy of the demo
// folder under Xvfb, the fixture driver, hook library and file-scan service
// doing the work for real, each press followed by its state test.
#include <gtest/gtest.h>

#include <windows.h>

#include <nlohmann/json.hpp>

#include <regex>
#include <string>
#include <vector>

#include "hook/InjectionDriver.h"
#include "platform/WinText.h"
#include "tests/automation/Automation.h"
#include "tests/automation/DemoCopy.h"
#include "tests/hook/HookTestSupport.h"
#include "tests/services/ServiceTestSupport.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr const wchar_t* DriverName = L"QVHookDriver";

// Stops and removes the product's driver and its libraries whatever a test
// left, before and after it.
class TCleanDriver {
public:
    TCleanDriver() { Clean(); }
    ~TCleanDriver() { Clean(); }

private:
    static void Clean() {
        InjUninjectAllLibraries(DriverName, nullptr, 7000);
        InjStopDriver(DriverName);
        InjUninstallDriver(DriverName);
    }
};

std::vector<std::wstring> StateTest(const wchar_t* AInstalled, const wchar_t* ARunning,
                                    const wchar_t* AInjected, const wchar_t* AVerdict,
                                    const wchar_t* AService = L"[-] ") {
    return {L"",
            L"[ State Test ]",
            AService + std::wstring(L"SERVICE PRESENCE"),
            AService + std::wstring(L"SERVICE RUNNING"),
            AInstalled + std::wstring(L"INSTALLED"),
            ARunning + std::wstring(L"RUNNING"),
            AInjected + std::wstring(L"INJECTED"),
            AVerdict};
}

const wchar_t* const Yes = L"[+] ";
const wchar_t* const No = L"[-] ";

class LiveProtectionWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FService.Delete());
        ASSERT_NE(FTool.WaitForMainWindow(), nullptr);
    }
    void TearDown() override { EXPECT_EQ(FTool.Close(), 0u); }

    // The lines a press appended to the log.
    std::vector<std::wstring> Press(const std::wstring& ACaption) {
        const size_t before = FTool.LogLines().size();
        const auto box = FTool.Press(ACaption);
        EXPECT_FALSE(box.has_value()) << (box ? box->Text : L"");
        const std::vector<std::wstring> lines = FTool.LogLines();
        return std::vector<std::wstring>(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                         lines.end());
    }

    TCleanDriver FCleanDriver;
    TTestService FService{L"QVScannerService"};
    TDemoCopy FDemo{L"buttons-demo"};
    TAutomatedTool FTool{FDemo.File(L"derodo.exe")};
};

TEST_F(LiveProtectionWindow, SingleStepsFromInstallToUninstallAndLoadUntilReboot) {
    EXPECT_EQ(Press(L"Install Live Protection"),
              StateTest(Yes, No, No, L"[-] Live Protection is installed, but not running!"));
    EXPECT_EQ(
        Press(L"Start Live Protection"),
        StateTest(Yes, Yes, No, L"[-] Live Protection is installed, running, but not active!"));
    EXPECT_EQ(Press(L"Activate Live Protection"),
              StateTest(Yes, Yes, Yes, L"[+] Live Protection is active."));
    EXPECT_EQ(
        Press(L"Deactivate Live Protection"),
        StateTest(Yes, Yes, No, L"[-] Live Protection is installed, running, but not active!"));
    EXPECT_EQ(Press(L"Stop Live Protection"),
              StateTest(Yes, No, No, L"[-] Live Protection is installed, but not running!"));
    EXPECT_EQ(Press(L"Uninstall Live Protection (might need reboot)"),
              StateTest(No, No, No, L"[-] Live Protection is not installed!"));
    EXPECT_EQ(
        Press(L"Load Live Protection until reboot"),
        StateTest(No, Yes, No, L"[+] Live Protection is not installed, but running until reboot."));

    // Pressed again, Uninstall has nothing left to remove.
    std::vector<std::wstring> expected = {
        L"[-] UNINSTALL: The Live Protection System Driver could not be uninstalled.",
        L"[-] UNINSTALL: A reboot might be needed to completely deactive Live Protection."};
    const std::vector<std::wstring> state =
        StateTest(No, Yes, No, L"[+] Live Protection is not installed, but running until reboot.");
    expected.insert(expected.end(), state.begin(), state.end());
    EXPECT_EQ(Press(L"Uninstall Live Protection (might need reboot)"), expected);
}

TEST_F(LiveProtectionWindow, AnActivationThatMissedAProcessSaysSoBesideAnActiveVerdict) {
    Press(L"Install Live Protection");
    Press(L"Start Live Protection");
    // Its loader lock held, the process cannot run the library's load in time.
    const TScratchFolder folder;
    const TTargetProcess stuck(folder, L"stuckwindowtarget.exe", tbStuck);
    const std::vector<std::wstring> lines = Press(L"Activate Live Protection");
    ASSERT_FALSE(lines.empty());
    const std::wregex shortfall(L"\\[-\\] INJECT: Live Protection reached only (\\d+) of (\\d+) "
                                L"processes \\(([1-9]\\d*) late, (\\d+) without a thread\\)\\.");
    EXPECT_TRUE(std::regex_match(lines.front(), shortfall)) << WideToUtf8(lines.front());
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 1, lines.end()),
              StateTest(Yes, Yes, Yes, L"[+] Live Protection is active."));
}

TEST_F(LiveProtectionWindow, DirectMethodFromACleanState) {
    std::vector<std::wstring> expected = {L"", L"[ Run Test (Direct Method) ]", L"[+] InstallHook"};
    const std::vector<std::wstring> state =
        StateTest(Yes, Yes, Yes, L"[+] Live Protection is active.");
    expected.insert(expected.end(), state.begin(), state.end());
    EXPECT_EQ(Press(L"Run test (direct method)"), expected);
}

TEST_F(LiveProtectionWindow, ServiceMethodInstallsAndStartsTheServiceWhichActivates) {
    std::vector<std::wstring> expected = {L"",
                                          L"[ Run Test (Service Method) ]",
                                          L"[i] Service not installed, trying to install...",
                                          L"[+] Service Installation",
                                          L"[i] Service not running, trying to start...",
                                          L"[+] Service Start",
                                          L"[+] SERVICE PRESENCE"};
    const std::vector<std::wstring> lines = Press(L"Run Test (Service method)");
    ASSERT_GE(lines.size(), expected.size() + 9);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 7), expected);
    // The start request returns before the service runs; the state test below
    // shows it running after it answered the activation.
    const std::vector<std::wstring> state =
        StateTest(Yes, Yes, Yes, L"[+] Live Protection is active.", Yes);
    EXPECT_EQ(std::vector<std::wstring>(lines.end() - 8, lines.end()), state);
}

// The report mode on the same state as the window beside it.
class ReportMode : public LiveProtectionWindow {
protected:
    TCompletedRun Report(const std::wstring& AArguments) {
        TCompletedRun run = RunToCompletion(FDemo.File(L"derodo.exe"), AArguments);
        EXPECT_EQ(run.WindowsSeen, 0) << "no window and no box in the report mode";
        return run;
    }

    static std::wstring RightAligned(const std::string& AText, size_t AWidth) {
        const std::wstring text = Utf8ToWide(AText);
        return text.size() < AWidth ? std::wstring(AWidth - text.size(), L' ') + text : text;
    }

    // The lines the window writes, rebuilt from the JSON document alone.
    static std::vector<std::wstring> LinesOf(const nlohmann::json& ADocument) {
        auto text = [](const nlohmann::json& AValue) {
            return Utf8ToWide(AValue.get<std::string>());
        };
        auto mark = [](bool AOk) { return std::wstring(AOk ? L"[+] " : L"[-] "); };
        std::vector<std::wstring> lines = {L"",
                                           L"[ Windows ]",
                                           L"[i] Windows Version: " +
                                               text(ADocument["windows"]["version"]),
                                           L"[i] " + text(ADocument["programFolder"]),
                                           L"",
                                           L"[ Versions ]"};
        for (const auto& file : ADocument["files"]) {
            if (!file["present"].get<bool>()) {
                lines.push_back(L"[-] Missing file: " + text(file["path"]));
                continue;
            }
            lines.push_back(L"[i] " + RightAligned(file["name"], 20) + L" - file " +
                            RightAligned(file["fileVersion"], 10) + L" product " +
                            RightAligned(file["productVersion"], 10) + L" hash " +
                            text(file["sha1"]));
        }
        lines.insert(lines.end(), {L"", L"[ Signature Test ]"});
        for (const auto& file : ADocument["files"]) {
            if (!file["present"].get<bool>())
                continue;
            const auto& signature = file["signature"];
            lines.push_back(mark(signature["statusCode"].get<int>() == 0) +
                            RightAligned(file["name"], 20) + L" - " + text(signature["status"]) +
                            L" - subject " +
                            (signature["subject"].is_null() ? L"" : text(signature["subject"])));
        }
        const auto& state = ADocument["state"];
        lines.insert(lines.end(), {L"", L"[ State Test ]"});
        lines.push_back(mark(state["servicePresence"].get<bool>()) + L"SERVICE PRESENCE");
        lines.push_back(mark(state["serviceRunning"].get<bool>()) + L"SERVICE RUNNING");
        lines.push_back(mark(state["installed"].get<bool>()) + L"INSTALLED");
        lines.push_back(mark(state["running"].get<bool>()) + L"RUNNING");
        lines.push_back(mark(state["injected"].get<bool>()) + L"INJECTED");
        lines.push_back(mark(ADocument["verdict"]["success"].get<bool>()) +
                        text(ADocument["verdict"]["text"]));
        return lines;
    }
};

TEST_F(ReportMode, TextAndJsonOfTheWindowsStateAndTheVerdictAsExitCode) {
    // Inactive: the start-up log of the window is the report, byte for byte.
    const std::wstring startUpLog = FTool.LogText();
    const std::wstring file = FDemo.File(L"report.txt");
    TCompletedRun run = Report(L"/report:\"" + file + L"\"");
    EXPECT_EQ(run.ExitCode, 2u);
    EXPECT_EQ(run.Error, "");
    EXPECT_EQ(ReadWholeFile(file), WideToUtf8(startUpLog));

    run = Report(L"/json /report:-");
    EXPECT_EQ(run.ExitCode, 2u);
    EXPECT_EQ(run.Error, "");
    const nlohmann::json document = nlohmann::json::parse(run.Output);
    EXPECT_EQ(LinesOf(document), SplitLogLines(startUpLog));
    EXPECT_EQ(document["files"].size(), 8u);
    for (const auto& entry : document["files"]) {
        if (!entry["present"].get<bool>())
            continue;
        SCOPED_TRACE(entry["name"].get<std::string>());
        EXPECT_EQ(entry["sha256"].get<std::string>().size(), 64u);
        EXPECT_GT(entry["size"].get<std::uint64_t>(), 0u);
    }
    EXPECT_FALSE(document["windows"]["name"].get<std::string>().empty());
    EXPECT_GT(document["windows"]["major"].get<int>(), 0);

    // A success verdict (whether the library is loaded is a question of each
    // process, so the state chosen is one a new process sees as the window
    // does): the same state test as the window's after the press, exit code 0.
    const std::vector<std::wstring> pressed = Press(L"Load Live Protection until reboot");
    ASSERT_GE(pressed.size(), 8u);
    run = Report(L"/report:-");
    EXPECT_EQ(run.ExitCode, 0u);
    const std::vector<std::wstring> reported = SplitLogLines(Utf8ToWide(run.Output));
    ASSERT_GE(reported.size(), 8u);
    EXPECT_EQ(std::vector<std::wstring>(reported.end() - 8, reported.end()),
              std::vector<std::wstring>(pressed.end() - 8, pressed.end()));
    const nlohmann::json active = nlohmann::json::parse(Report(L"/report:- /json").Output);
    EXPECT_TRUE(active["verdict"]["success"].get<bool>());
    EXPECT_EQ(active["verdict"]["text"],
              "Live Protection is not installed, but running until reboot.");
}

TEST_F(ReportMode, AReportThatCannotBeWrittenIsALineOnStandardErrorAndExitCode3) {
    for (const wchar_t* arguments :
         {L"/report:\"Z:\\no\\such\\folder\\report.txt\"", L"/json /report:\"\"", L"/report:"}) {
        SCOPED_TRACE(WideToUtf8(arguments));
        const TCompletedRun run = Report(arguments);
        EXPECT_EQ(run.ExitCode, 3u);
        EXPECT_EQ(run.Output, "");
        EXPECT_EQ(run.Error.rfind("derodo: ", 0), 0u) << run.Error;
        EXPECT_EQ(run.Error.find('\n'), run.Error.size() - 1) << "one line";
    }
}

} // namespace
