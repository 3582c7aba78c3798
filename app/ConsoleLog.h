// The five log writers: the only way anything reaches the user's log. Text is
// used as passed: no time stamp, no translation, no splitting or trimming.
#pragma once

#include <string>

// The writers' lines as text, for those that gather lines before the log
// takes them: a section is an empty line and then this title line.
std::wstring SectionLine(const std::wstring& ATitle);
std::wstring InfoLine(const std::wstring& AText);
std::wstring ResultLine(bool AOk, const std::wstring& AText);

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
