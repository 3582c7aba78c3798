#include "app/ConsoleLog.h"

void TConsoleLog::LogSection(const std::wstring& ATitle) {
    AppendLine(L"");
    AppendLine(L"[ " + ATitle + L" ]");
}

void TConsoleLog::LogInfo(const std::wstring& AText) {
    AppendLine(L"[i] " + AText);
}

void TConsoleLog::LogSuccess(const std::wstring& AText) {
    AppendLine(L"[+] " + AText);
}

void TConsoleLog::LogFailure(const std::wstring& AText) {
    AppendLine(L"[-] " + AText);
}

void TConsoleLog::LogResult(bool AOk, const std::wstring& AText) {
    if (AOk)
        LogSuccess(AText);
    else
        LogFailure(AText);
}
