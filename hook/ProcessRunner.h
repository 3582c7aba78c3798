// Runs a console program hidden and hands back what it wrote, the least a
// caller needs to judge an external tool: its standard output and standard
// error as separate lists of lines, and its exit code.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// The exit code of a run whose program could not be started at all. A
// program may end with this code itself, so Started tells the two apart.
inline constexpr DWORD ProcessNotStarted = 0xFFFFFFFF;

struct TProcessRun {
    bool Started = false;
    // The program's exit code, or ProcessNotStarted.
    DWORD ExitCode = ProcessNotStarted;
    // Why the program could not be started (the system error code), else 0.
    DWORD ErrorCode = 0;
    std::vector<std::wstring> Output;
    std::vector<std::wstring> Errors;
};

// Starts AProgram hidden with the command line "AProgram" AParameters (the
// path in double quotes, a space, the parameters), reads both of its output
// streams at the same time, so that neither fills up and stalls it, and waits
// until it has ended and closed them. A program that cannot be started is
// logged under "RunProcess.CreateProcessW".
TProcessRun RunProcess(const std::wstring& AProgram, const std::wstring& AParameters);

// The lines of a program's output, in the OEM code page as console programs
// write it: split at line feeds, a carriage return before one dropped, a last
// line without a line break kept, nothing for an empty output.
std::vector<std::wstring> OutputLines(std::string_view AOutput);
