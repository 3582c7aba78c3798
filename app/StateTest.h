// The state test's verdict: one line from the three driver answers.
#pragma once

struct TStateVerdict {
    bool Success; // a success line, else a failure line
    const wchar_t* Text;
};

// Whether the library is loaded decides only when the driver is both
// installed and running; a driver running without being installed is the
// state "Load Live Protection until reboot" leaves, and counts as success.
TStateVerdict StateVerdict(bool AInstalled, bool ARunning, bool AInjected);
