// The nine Live Protection buttons: seven single steps on the driver and the
// hook library, one table driving one handler, and the two whole activation
// tests. Each ends with the state test, so the state reached stands right
// below the action.
#include <array>
#include <exception>
#include <optional>

#include "app/FormDERodos.h"
#include "app/InjectionShortfall.h"
#include "diagnostics/Translate.h"
#include "hook/DirectActivation.h"

// A button that takes one step: its operations (true when the step
// succeeded), the lines that report a failure, whether a driver Windows
// refused to start then gets what to check, and for an injection or
// uninjection the line that says how many processes it did not reach.
struct TSingleStep {
    TActionId Action;
    bool (*Operation)(TConsoleServices& AServices);
    std::array<const wchar_t*, 2> FailureLines; // the second one may be null
    bool DriverRefusalAdvice;
    const wchar_t* ShortfallFormat = nullptr;
};

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

constexpr const wchar_t* InjectShortfall =
    L"INJECT: Live Protection reached only %d of %d processes (%d late, %d without a thread).";

const TSingleStep SingleSteps[] = {
    {TActionId::aLPInstall,
     [](TConsoleServices& AServices) { return AServices.Hook().InstallInjectionDriver(); },
     {L"INSTALL: The Live Protection System Driver could not be installed."},
     false},
    {TActionId::aLPLoad,
     [](TConsoleServices& AServices) { return AServices.Hook().LoadInjectionDriver(); },
     {L"LOAD: The Live Protection System Driver could not be loaded."},
     true},
    {TActionId::aLPStart,
     [](TConsoleServices& AServices) { return AServices.Hook().StartInjectionDriver(); },
     {L"START: The Live Protection System Driver could not be started."},
     true},
    {TActionId::aLPInject,
     [](TConsoleServices& AServices) {
         // The service is asked first and the library injected directly in
         // any case; only whether it is loaded in the end counts.
         AServices.WebServiceInject();
         AServices.Hook().InjectLibrary32();
         return AServices.Hook().IsLibraryInjected();
     },
     {L"INJECT: The Live Protection System Driver could not be activated."},
     false,
     InjectShortfall},
    {TActionId::aLPUninject,
     [](TConsoleServices& AServices) {
         // The service is only the fallback of a direct uninjection that failed.
         return AServices.Hook().UnInjectLibrary32() || AServices.WebServiceUninject();
     },
     {L"UNINJECT: The Live Protection System Driver could not be deactivated.",
      L"UNINJECT: You can uninstall and reboot to fully deactivate Live Protection."},
     false,
     L"UNINJECT: Live Protection was removed from only %d of %d processes (%d late, %d without a "
     L"thread)."},
    {TActionId::aLPStop,
     [](TConsoleServices& AServices) { return AServices.Hook().StopInjectionDriver(); },
     {L"STOP: The Live Protection System Driver could not be stopped."},
     false},
    {TActionId::aLPUninstall,
     [](TConsoleServices& AServices) { return AServices.Hook().UninstallInjectionDriver(); },
     {L"UNINSTALL: The Live Protection System Driver could not be uninstalled.",
      L"UNINSTALL: A reboot might be needed to completely deactive Live Protection."},
     false},
};

} // namespace

void TFormDERodos::BindLiveProtectionActions() {
    for (const TSingleStep& step : SingleSteps)
        Action(step.Action).OnExecute = [this, &step] { RunSingleStep(step); };
    Bind(TActionId::aTestDirect, &TFormDERodos::aTestDirectExecute);
    Bind(TActionId::aTestService, &TFormDERodos::aTestServiceExecute);
}

void TFormDERodos::RunSingleStep(const TSingleStep& AStep) {
    if (AStep.ShortfallFormat)
        ForgetInjectionOutcome();
    if (!AStep.Operation(FServices)) {
        // Read before any line is written, which may change it.
        const DWORD error = ::GetLastError();
        for (const wchar_t* line : AStep.FailureLines) {
            if (line)
                LogFailure(line);
        }
        if (AStep.DriverRefusalAdvice) {
            if (const std::wstring advice = DriverRefusalLine(error); !advice.empty())
                LogFailure(advice);
        }
    }
    if (AStep.ShortfallFormat)
        LogInjectionShortfall(AStep.ShortfallFormat);
    RunStateTest();
}

void TFormDERodos::ForgetInjectionOutcome() {
    // An outcome left from before this press is not this press's.
    FServices.Hook().TakeInjectionOutcome();
}

void TFormDERodos::LogInjectionShortfall(const wchar_t* AFormat) {
    if (const std::optional<TInjectionOutcome> outcome = FServices.Hook().TakeInjectionOutcome()) {
        if (const std::wstring line = InjectionShortfallLine(Translate(AFormat), *outcome);
            !line.empty())
            LogFailure(line);
    }
}

void TFormDERodos::aTestDirectExecute(const TAction&) {
    LogSection(L"Run Test (Direct Method)");
    // The state test runs even after an error; the error is shown after it.
    std::exception_ptr error;
    try {
        ForgetInjectionOutcome();
        std::wstring message;
        const bool active = FServices.InstallHook(message);
        LogResult(active, L"InstallHook");
        if (!active) {
            for (const std::wstring& line : MessageLines(message))
                LogFailure(line);
        }
        LogInjectionShortfall(InjectShortfall);
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
