// The state test: the present state of Live Protection as a "State Test"
// section of eight lines, every question asked afresh.
#include "StateTest.h"

#include "FormDERodos.h"
#include "WinText.h"

TStateVerdict StateVerdict(bool AInstalled, bool ARunning, bool AInjected) {
    if (AInstalled && ARunning && AInjected)
        return {true, L"Live Protection is active."};
    if (AInstalled && ARunning)
        return {false, L"Live Protection is installed, running, but not active!"};
    if (AInstalled)
        return {false, L"Live Protection is installed, but not running!"};
    if (ARunning)
        return {true, L"Live Protection is not installed, but running until reboot."};
    return {false, L"Live Protection is not installed!"};
}

void TFormDERodos::RunStateTest() {
    LogSection(L"State Test");
    // The driver is asked first; its answers are written after the service's.
    const bool installed = FServices.Hook().IsInjectionDriverInstalled();
    const bool running = FServices.Hook().IsInjectionDriverRunning();
    const bool injected = FServices.Hook().IsLibraryInjected();
    const bool servicePresence = FServices.FileScanServiceExists();
    LogResult(servicePresence, L"SERVICE PRESENCE");
    const bool serviceRunning = FServices.FileScanServiceRunning();
    LogResult(serviceRunning, L"SERVICE RUNNING");
    LogResult(installed, L"INSTALLED");
    LogResult(running, L"RUNNING");
    LogResult(injected, L"INJECTED");
    const TStateVerdict verdict = StateVerdict(installed, running, injected);
    LogResult(verdict.Success, verdict.Text);
    if (FReportFacts) {
        FReportFacts->ServicePresence = servicePresence;
        FReportFacts->ServiceRunning = serviceRunning;
        FReportFacts->Installed = installed;
        FReportFacts->Running = running;
        FReportFacts->Injected = injected;
        FReportFacts->VerdictSuccess = verdict.Success;
        FReportFacts->Verdict = WideToUtf8(verdict.Text);
    }
}
