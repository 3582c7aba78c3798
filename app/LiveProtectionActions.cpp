// The seven single steps are one table driving one handler.
#include "app/LiveProtectionActions.h"

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/InjectionShortfall.h"
#include "app/StateTest.h"
#include "diagnostics/Translate.h"
#include "hook/DirectActivation.h"

namespace {

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

void ForgetInjectionOutcome(TConsoleServices& AServices) {
    // An outcome left from before this press is not this press's.
    AServices.Hook().TakeInjectionOutcome();
}

// After an injection's or uninjection's own lines: how many processes it did
// not reach, when it fell short (AFormat untranslated).
void LogInjectionShortfall(TConsoleServices& AServices, TConsoleLog& ALog, const wchar_t* AFormat) {
    if (const std::optional<TInjectionOutcome> outcome = AServices.Hook().TakeInjectionOutcome()) {
        if (const std::wstring line = InjectionShortfallLine(Translate(AFormat), *outcome);
            !line.empty())
            ALog.LogFailure(line);
    }
}

} // namespace

const std::vector<TActionId>& SingleStepActions() {
    static const std::vector<TActionId> actions = [] {
        std::vector<TActionId> ids;
        for (const TSingleStep& step : SingleSteps)
            ids.push_back(step.Action);
        return ids;
    }();
    return actions;
}

void RunSingleStep(TConsoleServices& AServices, TConsoleLog& ALog, TActionId AAction) {
    const TSingleStep* found = nullptr;
    for (const TSingleStep& step : SingleSteps) {
        if (step.Action == AAction)
            found = &step;
    }
    if (!found)
        return;
    const TSingleStep& step = *found;
    if (step.ShortfallFormat)
        ForgetInjectionOutcome(AServices);
    if (!step.Operation(AServices)) {
        // Read before any line is written, which may change it.
        const DWORD error = ::GetLastError();
        for (const wchar_t* line : step.FailureLines) {
            if (line)
                ALog.LogFailure(line);
        }
        if (step.DriverRefusalAdvice) {
            if (const std::wstring advice = DriverRefusalLine(error); !advice.empty())
                ALog.LogFailure(advice);
        }
    }
    if (step.ShortfallFormat)
        LogInjectionShortfall(AServices, ALog, step.ShortfallFormat);
    RunStateTest(AServices, ALog);
}

void RunDirectTest(TConsoleServices& AServices, TConsoleLog& ALog) {
    ALog.LogSection(L"Run Test (Direct Method)");
    // The state test runs even after an error; the error is shown after it.
    std::exception_ptr error;
    try {
        ForgetInjectionOutcome(AServices);
        std::wstring message;
        const bool active = AServices.InstallHook(message);
        ALog.LogResult(active, L"InstallHook");
        if (!active) {
            for (const std::wstring& line : MessageLines(message))
                ALog.LogFailure(line);
        }
        LogInjectionShortfall(AServices, ALog, InjectShortfall);
    } catch (...) {
        error = std::current_exception();
    }
    RunStateTest(AServices, ALog);
    if (error)
        std::rethrow_exception(error);
}

void RunServiceTest(TConsoleServices& AServices, TConsoleLog& ALog) {
    ALog.LogSection(L"Run Test (Service Method)");
    if (AServices.FileScanServiceExists()) {
        ALog.LogSuccess(L"Service installed.");
    } else {
        ALog.LogInfo(L"Service not installed, trying to install...");
        ALog.LogResult(AServices.FileScanServiceInstall(), L"Service Installation");
    }
    // A start is tried also after a failed installation.
    if (AServices.FileScanServiceRunning()) {
        ALog.LogSuccess(L"Service running.");
    } else {
        ALog.LogInfo(L"Service not running, trying to start...");
        ALog.LogResult(AServices.FileScanServiceStart(), L"Service Start");
    }
    ALog.LogResult(AServices.FileScanServiceExists(), L"SERVICE PRESENCE");
    ALog.LogResult(AServices.FileScanServiceRunning(), L"SERVICE RUNNING");
    // The answer is not shown: the state test below shows its effect.
    AServices.WebServiceLPActivate();
    RunStateTest(AServices, ALog);
}
