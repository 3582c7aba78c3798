// What the command line asks of the program: its window, the help page, a
// report, or nothing it understands. Free of platform headers.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum TCommandLineUse {
    cuWindow, // no switch of the report: the window opens, as it always did
    cuHelp,   // "/help", "/?" or "/man": the switches on standard output
    cuReport, // "/report:<file>", with "/json"
    cuRefused // a report was meant but not understood: one line, exit code 3
};

struct TCommandLineDecision {
    TCommandLineUse Use = cuWindow;
    std::wstring Path;    // cuReport: the file, "-" for standard output
    bool Json = false;    // cuReport
    std::wstring Refusal; // cuRefused: why, in one line
};

// ADeclared tells whether an argument is a switch the program declares.
// AConsole: the console program, which has no window to fall back on; in the
// windowed one an argument that names the report's switches in any form makes
// the report meant ("/report x", "/report=x", "/json" alone).
TCommandLineDecision DecideCommandLine(const std::vector<std::wstring>& AArguments, bool AConsole,
                                       const std::function<bool(const std::wstring&)>& ADeclared);
