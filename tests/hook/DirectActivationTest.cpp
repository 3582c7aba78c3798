#include <gtest/gtest.h>

#include <windows.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "diagnostics/CodeMessage.h"
#include "diagnostics/Translate.h"
#include "hook/DirectActivation.h"
#include "hook/InjectionRules.h"
#include "hook/VexloHook.h"
#include "platform/Handles.h"
#include "platform/SystemMessage.h"
#include "tests/hook/HookTestSupport.h"
#include "tests/support/ScriptedHookControls.h"
#include "webclient/FileScanWebClient.h"

namespace {

// The operations of the activation, by short names.
const std::string installed = "IsInjectionDriverInstalled";
const std::string install = "InstallInjectionDriver";
const std::string running = "IsInjectionDriverRunning";
const std::string start = "StartInjectionDriver";
const std::string injected = "IsLibraryInjected";
const std::string webInject = "WebServiceInject";
const std::string inject = "InjectLibrary32";

// The activation on the scripted controls, the service's inject recorded
// among their calls, with AError as the last error of every failed step.
bool Activate(TScriptedHookControls& AHook, std::wstring& AMessage, DWORD AError) {
    return InstallHook(
        AHook, [&AHook] { return AHook.Ask(webInject); }, AMessage, [AError] { return AError; });
}

std::wstring WithCode(const std::wstring& AFormat, DWORD ACode) {
    return FormatCodeMessage(AFormat, static_cast<int32_t>(ACode), SystemMessage(ACode));
}

TEST(DirectActivation, EveryBranchInItsOrder) {
    UseLanguage(L"en_IE");
    struct TCase {
        const char* Name;
        std::map<std::string, std::deque<bool>> Answers;
        DWORD Error;
        bool Result;
        std::vector<std::string> Calls;
        std::wstring Message;
    };
    const std::wstring untouched = L"as passed";
    const TCase cases[] = {
        {"active already: nothing done, message untouched",
         {{installed, {true, true}}, {running, {true, true}}, {injected, {true, true}}},
         0,
         true,
         {installed, installed, running, running, injected, injected},
         untouched},
        {"install fails, access denied",
         {},
         ERROR_ACCESS_DENIED,
         false,
         {installed, install},
         WithCode(L"Could not install the Live Protection driver; error code is %d (%s).",
                  ERROR_ACCESS_DENIED)},
        {"installed, yet still not installed",
         {{install, {true}}},
         0,
         false,
         {installed, install, installed},
         L"Could not install the Live Protection driver."},
        {"start fails",
         {{installed, {true, true}}},
         ERROR_SERVICE_DISABLED,
         false,
         {installed, installed, running, start},
         WithCode(L"Could not start the Live Protection driver; error code is %d (%s).",
                  ERROR_SERVICE_DISABLED)},
        {"start refused by Windows: what to check follows on a line of its own",
         {{installed, {true, true}}},
         DriverSignatureRefused,
         false,
         {installed, installed, running, start},
         WithCode(L"Could not start the Live Protection driver; error code is %d (%s).",
                  DriverSignatureRefused) +
             L"\n" + DriverRefusalAdvice(DriverSignatureRefused)},
        {"started, yet still not running",
         {{installed, {true, true}}, {start, {true}}},
         0,
         false,
         {installed, installed, running, start, running},
         L"Could not start the Live Protection driver."},
        {"the service injects, yet the library is not loaded: no direct injection",
         {{installed, {true, true}}, {running, {true, true}}, {webInject, {true}}},
         0,
         false,
         {installed, installed, running, running, injected, webInject, injected},
         L"Could not activate the Live Protection."},
        {"every activation attempt fails, with the last error of them",
         {{installed, {true, true}}, {running, {true, true}}},
         static_cast<DWORD>(E_ACCESSDENIED),
         false,
         {installed, installed, running, running, injected, webInject, inject, injected},
         WithCode(L"Could not activate the Live Protection driver; error code is %d (%s).",
                  static_cast<DWORD>(E_ACCESSDENIED))},
        {"from nothing to active, the direct injection after the service failed",
         {{installed, {false, true}},
          {install, {true}},
          {running, {false, true}},
          {start, {true}},
          {injected, {false, true}},
          {inject, {true}}},
         0,
         true,
         {installed, install, installed, running, start, running, injected, webInject, inject,
          injected},
         untouched},
    };
    for (const TCase& c : cases) {
        TScriptedHookControls hook;
        hook.Next = c.Answers;
        std::wstring message = untouched;
        EXPECT_EQ(Activate(hook, message, c.Error), c.Result) << c.Name;
        EXPECT_EQ(hook.Calls, c.Calls) << c.Name;
        EXPECT_EQ(message, c.Message) << c.Name;
    }
}

TEST(DirectActivation, CodesAreSignedAndTheTranslatedFormatIsUsed) {
    EXPECT_EQ(WithCode(L"%d (%s).", static_cast<DWORD>(E_ACCESSDENIED)).substr(0, 12),
              L"-2147024891 ");

    UseLanguage(L"de");
    TScriptedHookControls hook;
    std::wstring message;
    EXPECT_FALSE(Activate(hook, message, ERROR_ACCESS_DENIED));
    EXPECT_EQ(message, L"Der Treiber des Echtzeitschutzes konnte nicht installiert werden; "
                       L"Fehlercode 5 (" +
                           SystemMessage(ERROR_ACCESS_DENIED) + L").");
    UseLanguage(L"en_IE");
}

TEST(DirectActivation, OnlyADriverWindowsRefusedGetsWhatToCheck) {
    for (uint32_t code : {DriverSignatureRefused, DriverBlocked})
        EXPECT_NE(DriverRefusalAdvice(code), nullptr) << code;
    for (uint32_t code : {0u, 2u, 5u, 193u, 1114u, 1058u})
        EXPECT_EQ(DriverRefusalAdvice(code), nullptr) << code;
    EXPECT_EQ(DriverRefusalLine(ERROR_ACCESS_DENIED), L"");

    UseLanguage(L"de");
    EXPECT_EQ(DriverRefusalLine(DriverBlocked).substr(0, 60),
              L"Windows hat die Signatur des Treibers des Echtzeitschutzes n");
    UseLanguage(L"en_IE");
    EXPECT_EQ(DriverRefusalLine(DriverBlocked), DriverRefusalAdvice(DriverBlocked));
}

// Points the file-scan service's port at a port where nothing listens, so the
// service cannot answer the inject request; puts the value back afterwards.
class TNoFileScanService {
public:
    TNoFileScanService() {
        DWORD disposition = 0;
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          FKey.addressof(), &disposition);
        FCreated = disposition == REG_CREATED_NEW_KEY;
        DWORD size = sizeof(FSaved);
        FHadValue = ::RegQueryValueExW(FKey.get(), Value, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&FSaved), &size) == ERROR_SUCCESS;
        const DWORD port = 1;
        ::RegSetValueExW(FKey.get(), Value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port),
                         sizeof(port));
    }
    ~TNoFileScanService() {
        if (FHadValue)
            ::RegSetValueExW(FKey.get(), Value, 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&FSaved), sizeof(FSaved));
        else
            ::RegDeleteValueW(FKey.get(), Value);
        FKey.reset();
        if (FCreated)
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, Key);
    }

private:
    static constexpr const wchar_t* Key = L"SYSTEM\\CurrentControlSet\\services\\QVScannerService";
    static constexpr const wchar_t* Value = L"ServiceWebPortFileScanner";
    TRegKey FKey;
    bool FCreated = false;
    bool FHadValue = false;
    DWORD FSaved = 0;
};

TEST(DirectActivation, FromNothingInstalledToActiveForReal) {
    const TNoFileScanService noService;
    const TTestDriver driver;
    const TScratchFolder folder;
    TVexloHook hook;
    UseTestNames(hook, driver, folder, TestUniqueName(L"Act"));
    ASSERT_FALSE(hook.IsInjectionDriverInstalled());

    std::wstring message;
    EXPECT_TRUE(InstallHook(hook, WebServiceInject, message)) << message;
    EXPECT_EQ(message, L"");
    EXPECT_TRUE(hook.IsInjectionDriverInstalled());
    EXPECT_TRUE(hook.IsInjectionDriverRunning());
    EXPECT_TRUE(hook.IsLibraryInjected());

    // Active already: a second run changes nothing and succeeds.
    EXPECT_TRUE(InstallHook(hook, WebServiceInject, message));

    EXPECT_TRUE(hook.UnInjectLibrary32());
    EXPECT_TRUE(hook.StopInjectionDriver());
    EXPECT_TRUE(hook.UninstallInjectionDriver());
}

} // namespace
