// The state test: the present state of Live Protection as a "State Test"
// section of eight lines, every question asked afresh.
#include "app/StateTest.h"

#include "app/FormDERodos.h"
#include "app/ReportGathering.h"

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
    const TGathered<TStateFacts> gathered = GatherStateFacts(FServices);
    AppendReport(StateTestLines(gathered.Facts), gathered.Error);
}
