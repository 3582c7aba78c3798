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
