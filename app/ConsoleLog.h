// The five log writers: the only way anything reaches the user's log. Text is
// used as passed: no time stamp, no translation, no splitting or trimming.
#pragma once

#include <string>

class TConsoleLog {
public:
    virtual ~TConsoleLog() = default;

    void LogSection(const std::wstring& ATitle);
    void LogInfo(const std::wstring& AText);
    void LogSuccess(const std::wstring& AText);
    void LogFailure(const std::wstring& AText);
    void LogResult(bool AOk, const std::wstring& AText);

protected:
    // Appends one whole line at the end of the log.
    virtual void AppendLine(const std::wstring& ALine) = 0;
};
