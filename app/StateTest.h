// The state test's verdict: one line from the three driver answers.
#pragma once

#include <optional>

#include "app/ConsoleLog.h"
#include "app/ConsoleServices.h"
#include "platform/Answer.h"

struct TStateVerdict {
    bool Success; // a success line, else a failure line
    const wchar_t* Text;
};

// Whether the library is loaded decides only when the driver is both
// installed and running; a driver running without being installed is the
// state "Load Live Protection until reboot" leaves, and counts as success.
TStateVerdict StateVerdict(bool AInstalled, bool ARunning, bool AInjected);

// The verdict from answers that may be unknown: the line that every yes or
// no in the place of the unknown answers gives, when they all give the same
// one; none when the line would rest on a guess.
std::optional<TStateVerdict> StateVerdict(TAnswer AInstalled, TAnswer ARunning, TAnswer AInjected);

// The "State Test" section in ALog: file-scan service, driver and hook
// library, and a verdict, every question asked afresh.
void RunStateTest(TConsoleServices& AServices, TConsoleLog& ALog);
