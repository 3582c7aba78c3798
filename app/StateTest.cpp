// The state test: the present state of Live Protection as a "State Test"
// section of eight lines, every question asked afresh.
#include "app/StateTest.h"

#include <string_view>
#include <vector>

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

std::optional<TStateVerdict> StateVerdict(TAnswer AInstalled, TAnswer ARunning, TAnswer AInjected) {
    std::optional<TStateVerdict> verdict;
    // Each answer as it stands, or both answers where it is unknown.
    const auto values = [](TAnswer AAnswer) {
        return AAnswer.IsKnown() ? std::vector<bool>{AAnswer.IsYes()}
                                 : std::vector<bool>{false, true};
    };
    for (const bool installed : values(AInstalled)) {
        for (const bool running : values(ARunning)) {
            for (const bool injected : values(AInjected)) {
                const TStateVerdict line = StateVerdict(installed, running, injected);
                if (verdict && std::wstring_view(verdict->Text) != line.Text)
                    return std::nullopt;
                verdict = line;
            }
        }
    }
    return verdict;
}

// The window's questions answer no where they cannot find out.
void RunStateTest(TConsoleServices& AServices, TConsoleLog& ALog) {
    const TGathered<TStateFacts> gathered = GatherStateFacts(AServices);
    LogReport(ALog, StateTestLines(UnknownAnswersAsNo(gathered.Facts)), gathered.Error);
}
