// The report mode: the start-up report and the state test written to a file
// or to standard output, as text or as JSON, without a window, a question or
// a message box, for support engineers and for collecting reports from many
// machines by their own management tools.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Modules.h"
#include "app/ReportFacts.h"

struct TReportRequest {
    std::wstring Path; // "-" for standard output
    bool Json = false;
};

// The exit codes of the report mode.
inline constexpr int ReportActiveExitCode = 0;   // the verdict is a success line
inline constexpr int ReportInactiveExitCode = 2; // the verdict is a failure line
inline constexpr int ReportNotWrittenExitCode = 3;
// Written, but a state answer is unknown (it needs an elevated prompt, or the
// system gave none): whatever the verdict, the report is incomplete.
inline constexpr int ReportIncompleteExitCode = 4;

// The exit code of a report with these state answers.
int ReportExitCode(const TStateFacts& AState);

// The program's answer to a command line that asks for no window: the help
// page on standard output (exit code 0), the report (RunReport), or one line
// on standard error (exit code 3); none when the window is to open. AConsole:
// the console program, which answers every command line. The parameter
// modules have to be started; AModules are the others.
std::optional<int> RunWithoutWindow(TModuleSequence& AModules, bool AConsole);

// Starts AModules, writes the report asked for, shuts them down and answers
// the exit code. Whatever goes wrong is one line on standard error.
int RunReport(TModuleSequence& AModules, const TReportRequest& ARequest);

// The log's lines as the window's log holds them: each ends with "\r\n"; UTF-8.
std::string LogLinesToText(const std::vector<std::wstring>& ALines);

// Module step: the "Report" group of the command-line parameters.
void ReportParametersStartUp();
