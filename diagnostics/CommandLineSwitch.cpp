#include "diagnostics/CommandLineSwitch.h"

#include "platform/WinText.h"

bool IsCmdLineSwitch(std::wstring_view AArgument, std::wstring_view AWord) {
    return !AArgument.empty() && (AArgument[0] == L'-' || AArgument[0] == L'/') &&
           SameTextIgnoringCase(AArgument.substr(1), AWord);
}

bool IsCmdLineValueSwitch(std::wstring_view AArgument, std::wstring_view AWord) {
    const size_t colon = AArgument.find(L':');
    return colon != std::wstring_view::npos && IsCmdLineSwitch(AArgument.substr(0, colon), AWord);
}

bool NamesParameter(std::wstring_view AText, std::wstring_view AName) {
    std::wstring_view rest = AText;
    if (rest.substr(0, 1) == L"/")
        rest.remove_prefix(1);
    if (rest.substr(0, 2) == L"--")
        rest.remove_prefix(2);
    if (rest.substr(0, 1) == L"-")
        rest.remove_prefix(1);
    return SameTextIgnoringCase(rest, AName);
}
