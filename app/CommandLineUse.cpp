#include "app/CommandLineUse.h"

#include <algorithm>
#include <optional>

#include "diagnostics/CommandLineParameters.h"
#include "diagnostics/CommandLineSwitch.h"
#include "platform/WinText.h"

namespace {

constexpr const wchar_t* Usage =
    L"/report:<file> writes the report (\"-\" for standard output), /help lists the switches.";

// A word of the report's own after "/" or "-", whatever follows it.
bool NamesReportSwitch(const std::wstring& AArgument) {
    const size_t start = AArgument.find_first_not_of(L"/-");
    if (start == 0 || start == std::wstring::npos)
        return false;
    const std::wstring_view word = std::wstring_view(AArgument).substr(start);
    return SameTextIgnoringCase(word.substr(0, 6), L"report") ||
           SameTextIgnoringCase(word.substr(0, 4), L"json");
}

} // namespace

TCommandLineDecision DecideCommandLine(const std::vector<std::wstring>& AArguments, bool AConsole,
                                       const std::function<bool(const std::wstring&)>& ADeclared) {
    TCommandLineDecision decision;
    if (FindCmdLineSwitch(AArguments, L"help") || FindCmdLineSwitch(AArguments, L"?") ||
        FindCmdLineSwitch(AArguments, L"man")) {
        decision.Use = cuHelp;
        return decision;
    }
    if (!AConsole && std::none_of(AArguments.begin(), AArguments.end(), NamesReportSwitch))
        return decision;

    decision.Use = cuRefused;
    for (const std::wstring& argument : AArguments) {
        if (!ADeclared(argument)) {
            decision.Refusal = L"Not understood: \"" + argument + L"\". " + Usage;
            return decision;
        }
    }
    const std::optional<std::wstring> path = FindCmdLineValue(AArguments, L"report");
    if (!path) {
        decision.Refusal = std::wstring(L"No report asked for. ") + Usage;
        return decision;
    }
    decision.Use = cuReport;
    decision.Path = *path;
    decision.Json = FindCmdLineSwitch(AArguments, L"json");
    return decision;
}
