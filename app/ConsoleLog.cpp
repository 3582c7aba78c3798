#include "app/ConsoleLog.h"

std::wstring SectionLine(const std::wstring& ATitle) {
    return L"[ " + ATitle + L" ]";
}

std::wstring InfoLine(const std::wstring& AText) {
    return L"[i] " + AText;
}

std::wstring ResultLine(bool AOk, const std::wstring& AText) {
    return (AOk ? L"[+] " : L"[-] ") + AText;
}

void TConsoleLog::LogSection(const std::wstring& ATitle) {
    AppendLine(L"");
    AppendLine(SectionLine(ATitle));
}

void TConsoleLog::LogInfo(const std::wstring& AText) {
    AppendLine(InfoLine(AText));
}

void TConsoleLog::LogSuccess(const std::wstring& AText) {
    AppendLine(ResultLine(true, AText));
}

void TConsoleLog::LogFailure(const std::wstring& AText) {
    AppendLine(ResultLine(false, AText));
}

void TConsoleLog::LogResult(bool AOk, const std::wstring& AText) {
    AppendLine(ResultLine(AOk, AText));
}

void TConsoleLog::LogLines(const std::vector<std::wstring>& ALines) {
    AppendLines(ALines);
}

void TConsoleLog::AppendLines(const std::vector<std::wstring>& ALines) {
    for (const std::wstring& line : ALines)
        AppendLine(line);
}

void LogReport(TConsoleLog& ALog, const std::vector<std::wstring>& ALines,
               const std::exception_ptr& AError) {
    ALog.LogLines(ALines);
    if (AError)
        std::rethrow_exception(AError);
}
