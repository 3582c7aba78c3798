// The nine Live Protection buttons: seven single steps on the driver and the
// hook library, and the two whole activation tests. Each ends with the state
// test, so the state reached stands right below the action.
#include <exception>

#include "DirectActivation.h"
#include "FormDERodos.h"

namespace {

// The failure lines of a message that may hold several, separated by "\n".
std::vector<std::wstring> MessageLines(const std::wstring& AMessage) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end = AMessage.find(L'\n'); end != std::wstring::npos;
         start = end + 1, end = AMessage.find(L'\n', start))
        lines.push_back(AMessage.substr(start, end - start));
    lines.push_back(AMessage.substr(start));
    return lines;
}

// A driver Windows refused to start gets one more line: what to check.
void LogDriverRefusal(TConsoleLog& ALog, DWORD AErrorCode) {
    if (const std::wstring advice = DriverRefusalLine(AErrorCode); !advice.empty())
        ALog.LogFailure(advice);
}

} // namespace

void TFormDERodos::BindLiveProtectionActions() {
    Bind(TActionId::aLPInstall, &TFormDERodos::aLPInstallExecute);
    Bind(TActionId::aLPLoad, &TFormDERodos::aLPLoadExecute);
    Bind(TActionId::aLPStart, &TFormDERodos::aLPStartExecute);
    Bind(TActionId::aLPInject, &TFormDERodos::aLPInjectExecute);
    Bind(TActionId::aLPUninject, &TFormDERodos::aLPUninjectExecute);
    Bind(TActionId::aLPStop, &TFormDERodos::aLPStopExecute);
    Bind(TActionId::aLPUninstall, &TFormDERodos::aLPUninstallExecute);
    Bind(TActionId::aTestDirect, &TFormDERodos::aTestDirectExecute);
    Bind(TActionId::aTestService, &TFormDERodos::aTestServiceExecute);
}

void TFormDERodos::aLPInstallExecute(const TAction&) {
    if (!FServices.Hook().InstallInjectionDriver())
        LogFailure(L"INSTALL: The Live Protection System Driver could not be installed.");
    RunStateTest();
}

void TFormDERodos::aLPLoadExecute(const TAction&) {
    if (!FServices.Hook().LoadInjectionDriver()) {
        const DWORD error = ::GetLastError();
        LogFailure(L"LOAD: The Live Protection System Driver could not be loaded.");
        LogDriverRefusal(*this, error);
    }
    RunStateTest();
}

void TFormDERodos::aLPStartExecute(const TAction&) {
    if (!FServices.Hook().StartInjectionDriver()) {
        const DWORD error = ::GetLastError();
        LogFailure(L"START: The Live Protection System Driver could not be started.");
        LogDriverRefusal(*this, error);
    }
    RunStateTest();
}

void TFormDERodos::aLPInjectExecute(const TAction&) {
    // The service is asked first and the library injected directly in any
    // case; only whether it is loaded in the end counts.
    FServices.WebServiceInject();
    FServices.Hook().InjectLibrary32();
    if (!FServices.Hook().IsLibraryInjected())
        LogFailure(L"INJECT: The Live Protection System Driver could not be activated.");
    RunStateTest();
}

void TFormDERodos::aLPUninjectExecute(const TAction&) {
    // The service is only the fallback of a direct uninjection that failed.
    if (!FServices.Hook().UnInjectLibrary32() && !FServices.WebServiceUninject()) {
        LogFailure(L"UNINJECT: The Live Protection System Driver could not be deactivated.");
        LogFailure(L"UNINJECT: You can uninstall and reboot to fully deactivate Live Protection.");
    }
    RunStateTest();
}

void TFormDERodos::aLPStopExecute(const TAction&) {
    if (!FServices.Hook().StopInjectionDriver())
        LogFailure(L"STOP: The Live Protection System Driver could not be stopped.");
    RunStateTest();
}

void TFormDERodos::aLPUninstallExecute(const TAction&) {
    if (!FServices.Hook().UninstallInjectionDriver()) {
        LogFailure(L"UNINSTALL: The Live Protection System Driver could not be uninstalled.");
        LogFailure(L"UNINSTALL: A reboot might be needed to completely deactive Live Protection.");
    }
    RunStateTest();
}

void TFormDERodos::aTestDirectExecute(const TAction&) {
    LogSection(L"Run Test (Direct Method)");
    // The state test runs even after an error; the error is shown after it.
    std::exception_ptr error;
    try {
        std::wstring message;
        const bool active = FServices.InstallHook(message);
        LogResult(active, L"InstallHook");
        if (!active) {
            for (const std::wstring& line : MessageLines(message))
                LogFailure(line);
        }
    } catch (...) {
        error = std::current_exception();
    }
    RunStateTest();
    if (error)
        std::rethrow_exception(error);
}

void TFormDERodos::aTestServiceExecute(const TAction&) {
    LogSection(L"Run Test (Service Method)");
    if (FServices.FileScanServiceExists()) {
        LogSuccess(L"Service installed.");
    } else {
        LogInfo(L"Service not installed, trying to install...");
        LogResult(FServices.FileScanServiceInstall(), L"Service Installation");
    }
    // A start is tried also after a failed installation.
    if (FServices.FileScanServiceRunning()) {
        LogSuccess(L"Service running.");
    } else {
        LogInfo(L"Service not running, trying to start...");
        LogResult(FServices.FileScanServiceStart(), L"Service Start");
    }
    LogResult(FServices.FileScanServiceExists(), L"SERVICE PRESENCE");
    LogResult(FServices.FileScanServiceRunning(), L"SERVICE RUNNING");
    // The answer is not shown: the state test below shows its effect.
    FServices.WebServiceLPActivate();
    RunStateTest();
}
