// The Live Protection buttons against a scripted fake of the console's seam:
// what each handler calls, in which order, and the lines it writes before
// the state test that ends it.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/InjectionShortfall.h"
#include "diagnostics/Translate.h"
#include "platform/WinText.h"
#include "tests/app/FakeConsoleServices.h"

namespace {

const std::vector<std::string> StateTestCalls = {"IsInjectionDriverInstalled",
                                                 "IsInjectionDriverRunning", "IsLibraryInjected",
                                                 "FileScanServiceExists", "FileScanServiceRunning"};

struct TActionCase {
    const char* Name;
    TActionId Action;
    std::map<std::string, std::deque<bool>> Next;
    std::vector<std::string> Calls;  // before the state test's questions
    std::vector<std::wstring> Lines; // before the state test's section
    // What the injection layer says it did in the other processes, by operation.
    std::map<std::string, TInjectionOutcome> Outcomes = {};
};

void RunAction(const TActionCase& ACase) {
    TFakeConsoleServices services;
    services.Next = ACase.Next;
    services.Outcomes = ACase.Outcomes;
    TLogForm form(services);
    form.Action(ACase.Action).OnExecute();

    std::vector<std::string> calls = ACase.Calls;
    calls.insert(calls.end(), StateTestCalls.begin(), StateTestCalls.end());
    EXPECT_EQ(services.Calls, calls) << ACase.Name;
    ASSERT_EQ(form.Lines.size(), ACase.Lines.size() + 8) << ACase.Name;
    EXPECT_EQ(std::vector<std::wstring>(form.Lines.begin(), form.Lines.end() - 8), ACase.Lines)
        << ACase.Name;
    EXPECT_EQ(form.Lines[ACase.Lines.size() + 1], L"[ State Test ]") << ACase.Name;
}

TEST(LiveProtectionActions, SingleSteps) {
    const TActionCase cases[] = {
        {"install succeeds: nothing but the state test",
         TActionId::aLPInstall,
         {{"InstallInjectionDriver", {true}}},
         {"InstallInjectionDriver"},
         {}},
        {"install fails",
         TActionId::aLPInstall,
         {},
         {"InstallInjectionDriver"},
         {L"[-] INSTALL: The Live Protection System Driver could not be installed."}},
        {"load fails",
         TActionId::aLPLoad,
         {},
         {"LoadInjectionDriver"},
         {L"[-] LOAD: The Live Protection System Driver could not be loaded."}},
        {"start fails",
         TActionId::aLPStart,
         {},
         {"StartInjectionDriver"},
         {L"[-] START: The Live Protection System Driver could not be started."}},
        {"stop fails",
         TActionId::aLPStop,
         {},
         {"StopInjectionDriver"},
         {L"[-] STOP: The Live Protection System Driver could not be stopped."}},
        {"uninstall fails",
         TActionId::aLPUninstall,
         {},
         {"UninstallInjectionDriver"},
         {L"[-] UNINSTALL: The Live Protection System Driver could not be uninstalled.",
          L"[-] UNINSTALL: A reboot might be needed to completely deactive Live Protection."}},
        {"activate: the service fails silently, the direct injection loads the library",
         TActionId::aLPInject,
         {{"InjectLibrary32", {true}}, {"IsLibraryInjected", {true}}},
         {"WebServiceInject", "InjectLibrary32", "IsLibraryInjected"},
         {}},
        {"activate: injected by the service, both are still asked and only the end counts",
         TActionId::aLPInject,
         {{"WebServiceInject", {true}}},
         {"WebServiceInject", "InjectLibrary32", "IsLibraryInjected"},
         {L"[-] INJECT: The Live Protection System Driver could not be activated."}},
        {"deactivate directly: the service is not asked",
         TActionId::aLPUninject,
         {{"UnInjectLibrary32", {true}}},
         {"UnInjectLibrary32"},
         {}},
        {"deactivate through the service after the direct way failed",
         TActionId::aLPUninject,
         {{"WebServiceUninject", {true}}},
         {"UnInjectLibrary32", "WebServiceUninject"},
         {}},
        {"deactivate fails both ways",
         TActionId::aLPUninject,
         {},
         {"UnInjectLibrary32", "WebServiceUninject"},
         {L"[-] UNINJECT: The Live Protection System Driver could not be deactivated.",
          L"[-] UNINJECT: You can uninstall and reboot to fully deactivate Live Protection."}},
    };
    for (const TActionCase& c : cases)
        RunAction(c);
}

TEST(LiveProtectionActions, ADriverWindowsRefusedGetsWhatToCheck) {
    UseLanguage(L"en_IE");
    const std::wstring advice =
        L"[-] Windows did not accept the signature of the Live Protection driver. Check test "
        L"signing (bcdedit /enum {current}: testsigning Yes), Secure Boot (msinfo32), Memory "
        L"integrity (Windows Security, Device security, Core isolation) and the Code Integrity "
        L"event log (Microsoft-Windows-CodeIntegrity/Operational).";
    const struct {
        TActionId Action;
        const char* Operation;
        const wchar_t* Line;
        bool Advice;
    } steps[] = {
        {TActionId::aLPStart, "StartInjectionDriver",
         L"[-] START: The Live Protection System Driver could not be started.", true},
        {TActionId::aLPLoad, "LoadInjectionDriver",
         L"[-] LOAD: The Live Protection System Driver could not be loaded.", true},
        // The other steps report their failure alone, whatever the code.
        {TActionId::aLPInstall, "InstallInjectionDriver",
         L"[-] INSTALL: The Live Protection System Driver could not be installed.", false},
        {TActionId::aLPStop, "StopInjectionDriver",
         L"[-] STOP: The Live Protection System Driver could not be stopped.", false},
    };
    for (const auto& step : steps) {
        for (DWORD code : {DWORD{577}, DWORD{1275}, DWORD{ERROR_ACCESS_DENIED}}) {
            TFakeConsoleServices services;
            services.Errors[step.Operation] = code;
            TLogForm form(services);
            form.Action(step.Action).OnExecute();
            std::vector<std::wstring> expected = {step.Line};
            if (step.Advice && code != ERROR_ACCESS_DENIED)
                expected.push_back(advice);
            ASSERT_GE(form.Lines.size(), expected.size());
            EXPECT_EQ(
                std::vector<std::wstring>(form.Lines.begin(), form.Lines.begin() + expected.size()),
                expected)
                << step.Operation << " " << code;
            EXPECT_EQ(form.Lines[expected.size() + 1], L"[ State Test ]");
        }
    }
}

TEST(LiveProtectionActions, TestDirectMethod) {
    const TActionCase cases[] = {
        {"active",
         TActionId::aTestDirect,
         {{"InstallHook", {true}}},
         {"InstallHook"},
         {L"", L"[ Run Test (Direct Method) ]", L"[+] InstallHook"}},
        {"not active: the message follows",
         TActionId::aTestDirect,
         {},
         {"InstallHook"},
         {L"", L"[ Run Test (Direct Method) ]", L"[-] InstallHook",
          L"[-] Could not activate the Live Protection."}},
    };
    for (const TActionCase& c : cases)
        RunAction(c);
}

// Outcomes of an injection (or uninjection) that admitted 30 processes.
TInjectionOutcome Reached(TInjectionDirection ADirection, size_t ALate, size_t ANotStarted) {
    TInjectionOutcome outcome{ADirection, {}};
    outcome.Counts.Of[iokLate] = ALate;
    outcome.Counts.Of[iokNotStarted] = ANotStarted;
    outcome.Counts.Of[iokCritical] = 2;
    outcome.Counts.Of[iokRefused] = 1;
    outcome.Counts.Of[iokDone] = 30 - ALate - ANotStarted - 3;
    return outcome;
}

TEST(LiveProtectionActions, AnInjectionThatFellShortSaysSoWhateverTheVerdict) {
    UseLanguage(L"en_IE");
    const TActionCase cases[] = {
        {"activate: loaded here, but late and threadless processes elsewhere",
         TActionId::aLPInject,
         {{"InjectLibrary32", {false}}, {"IsLibraryInjected", {true}}},
         {"WebServiceInject", "InjectLibrary32", "IsLibraryInjected"},
         {L"[-] INJECT: Live Protection reached only 24 of 30 processes (4 late, 2 without a "
          L"thread)."},
         {{"InjectLibrary32", Reached(idLoad, 4, 2)}}},
        {"activate: critical and refusing processes were reached",
         TActionId::aLPInject,
         {{"InjectLibrary32", {true}}, {"IsLibraryInjected", {true}}},
         {"WebServiceInject", "InjectLibrary32", "IsLibraryInjected"},
         {},
         {{"InjectLibrary32", Reached(idLoad, 0, 0)}}},
        {"activate failed here too: its own line first",
         TActionId::aLPInject,
         {},
         {"WebServiceInject", "InjectLibrary32", "IsLibraryInjected"},
         {L"[-] INJECT: The Live Protection System Driver could not be activated.",
          L"[-] INJECT: Live Protection reached only 27 of 30 processes (3 late, 0 without a "
          L"thread)."},
         {{"InjectLibrary32", Reached(idLoad, 3, 0)}}},
        {"deactivate: the service is the fallback; the direct way's shortfall is shown",
         TActionId::aLPUninject,
         {},
         {"UnInjectLibrary32", "WebServiceUninject"},
         {L"[-] UNINJECT: The Live Protection System Driver could not be deactivated.",
          L"[-] UNINJECT: You can uninstall and reboot to fully deactivate Live Protection.",
          L"[-] UNINJECT: Live Protection was removed from only 29 of 30 processes (0 late, 1 "
          L"without a thread)."},
         {{"UnInjectLibrary32", Reached(idFree, 0, 1)}}},
        {"direct method: after the message",
         TActionId::aTestDirect,
         {},
         {"InstallHook"},
         {L"", L"[ Run Test (Direct Method) ]", L"[-] InstallHook",
          L"[-] Could not activate the Live Protection.",
          L"[-] INJECT: Live Protection reached only 10 of 30 processes (20 late, 0 without a "
          L"thread)."},
         {{"InstallHook", Reached(idLoad, 20, 0)}}},
    };
    for (const TActionCase& c : cases)
        RunAction(c);
}

TEST(InjectionShortfall, FillsItsFourNumbersInOrderAndNothingElse) {
    const struct {
        const wchar_t* Format;
        const wchar_t* Line;
    } cases[] = {
        {L"%d/%d %d %d", L"27/30 1 2"},
        {L"100%% %d %d %d %d %d %s %", L"100% 27 30 1 2 %d %s %"},
        {L"no numbers", L"no numbers"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InjectionShortfallLine(c.Format, Reached(idLoad, 1, 2)), c.Line)
            << WideToUtf8(c.Format);
    EXPECT_EQ(InjectionShortfallLine(L"%d of %d", Reached(idFree, 0, 0)), L"")
        << "nothing to say when every process was reached";
}

TEST(LiveProtectionActions, AnOutcomeFromBeforeThePressIsNotThePresss) {
    UseLanguage(L"en_IE");
    TFakeConsoleServices services;
    services.Outcomes["InjectLibrary32"] = Reached(idLoad, 5, 5);
    services.Hook().InjectLibrary32();
    services.Outcomes.clear();
    services.Next["UnInjectLibrary32"] = {true};
    TLogForm form(services);
    form.Action(TActionId::aLPUninject).OnExecute();
    ASSERT_GE(form.Lines.size(), 2u);
    EXPECT_EQ(form.Lines[1], L"[ State Test ]");
}

TEST(LiveProtectionActions, TheShortfallIsTranslated) {
    UseLanguage(L"de");
    TFakeConsoleServices services;
    services.Outcomes["UnInjectLibrary32"] = Reached(idFree, 1, 1);
    services.Next["UnInjectLibrary32"] = {true};
    TLogForm form(services);
    form.Action(TActionId::aLPUninject).OnExecute();
    UseLanguage(L"en_IE");
    ASSERT_GE(form.Lines.size(), 1u);
    EXPECT_EQ(form.Lines[0], L"[-] UNINJECT: Der Echtzeitschutz wurde nur aus 28 von 30 Prozessen "
                             L"entfernt (1 zu spät, 1 ohne Thread).");
}

TEST(LiveProtectionActions, EachLineOfTheDirectMethodsMessageIsAFailureLine) {
    TFakeConsoleServices services;
    services.InstallHookMessage = L"Could not start the driver.\nCheck this.";
    TLogForm form(services);
    form.aTestDirectExecute(TAction{ActionInfos[0], {}});
    ASSERT_GE(form.Lines.size(), 5u);
    EXPECT_EQ(std::vector<std::wstring>(form.Lines.begin(), form.Lines.begin() + 5),
              (std::vector<std::wstring>{L"", L"[ Run Test (Direct Method) ]", L"[-] InstallHook",
                                         L"[-] Could not start the driver.", L"[-] Check this."}));
}

TEST(LiveProtectionActions, TestServiceMethod) {
    const TActionCase cases[] = {
        {"service installed and running",
         TActionId::aTestService,
         {{"FileScanServiceExists", {true, true}}, {"FileScanServiceRunning", {true, true}}},
         {"FileScanServiceExists", "FileScanServiceRunning", "FileScanServiceExists",
          "FileScanServiceRunning", "WebServiceLPActivate"},
         {L"", L"[ Run Test (Service Method) ]", L"[+] Service installed.", L"[+] Service running.",
          L"[+] SERVICE PRESENCE", L"[+] SERVICE RUNNING"}},
        {"service missing and its installation failing: the start is still tried",
         TActionId::aTestService,
         {},
         {"FileScanServiceExists", "FileScanServiceInstall", "FileScanServiceRunning",
          "FileScanServiceStart", "FileScanServiceExists", "FileScanServiceRunning",
          "WebServiceLPActivate"},
         {L"", L"[ Run Test (Service Method) ]", L"[i] Service not installed, trying to install...",
          L"[-] Service Installation", L"[i] Service not running, trying to start...",
          L"[-] Service Start", L"[-] SERVICE PRESENCE", L"[-] SERVICE RUNNING"}},
        {"service installed and started by the test",
         TActionId::aTestService,
         {{"FileScanServiceExists", {false, true}},
          {"FileScanServiceInstall", {true}},
          {"FileScanServiceRunning", {false, true}},
          {"FileScanServiceStart", {true}}},
         {"FileScanServiceExists", "FileScanServiceInstall", "FileScanServiceRunning",
          "FileScanServiceStart", "FileScanServiceExists", "FileScanServiceRunning",
          "WebServiceLPActivate"},
         {L"", L"[ Run Test (Service Method) ]", L"[i] Service not installed, trying to install...",
          L"[+] Service Installation", L"[i] Service not running, trying to start...",
          L"[+] Service Start", L"[+] SERVICE PRESENCE", L"[+] SERVICE RUNNING"}},
    };
    for (const TActionCase& c : cases)
        RunAction(c);
}

TEST(LiveProtectionActions, AnErrorEndsAHandlerButTheDirectTestStillRunsTheStateTest) {
    TFakeConsoleServices services;
    services.Raising = {"InstallHook", "InstallInjectionDriver"};
    TLogForm form(services);
    TAction sender{ActionInfos[0], {}};

    EXPECT_THROW(form.aTestDirectExecute(sender), std::runtime_error);
    ASSERT_EQ(form.Lines.size(), 2u + 8u);
    EXPECT_EQ(form.Lines[1], L"[ Run Test (Direct Method) ]");
    EXPECT_EQ(form.Lines[3], L"[ State Test ]");

    form.Lines.clear();
    EXPECT_THROW(form.Action(TActionId::aLPInstall).OnExecute(), std::runtime_error);
    EXPECT_TRUE(form.Lines.empty());
}

TEST(LiveProtectionActions, EveryButtonRunsItsHandler) {
    TFakeConsoleServices services;
    TLogForm form(services);
    for (const TActionInfo& info : ActionInfos) {
        if (info.Id == TActionId::aDownload27Files)
            continue;
        form.Lines.clear();
        ASSERT_TRUE(form.Action(info.Id).OnExecute) << info.Caption;
        form.Action(info.Id).OnExecute();
        ASSERT_GE(form.Lines.size(), 8u);
        EXPECT_EQ(form.Lines[form.Lines.size() - 7], L"[ State Test ]");
    }
}

} // namespace
