// The five log writers: the only way anything reaches the user's log. Text is
// used as passed: no time stamp, no translation, no splitting or trimming.
#pragma once

#include <exception>
#include <string>
#include <vector>

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

    // Lines already in the writers' forms, gathered before the log takes
    // them: in one piece.
    void LogLines(const std::vector<std::wstring>& ALines);

protected:
    // Appends one whole line at the end of the log.
    virtual void AppendLine(const std::wstring& ALine) = 0;
    // Appends whole lines at the end of the log; unless told better, one by one.
    virtual void AppendLines(const std::vector<std::wstring>& ALines);
};

// Appends the lines of facts gathered, then raises the error that ended
// their gathering early, so the log shows what came before it.
void LogReport(TConsoleLog& ALog, const std::vector<std::wstring>& ALines,
               const std::exception_ptr& AError);
