// The report of a system call that failed: one error line in the debug log,
// tagged "Routine.FailedCall" and carrying the call's error code with the
// system's text for it. Reporting keeps the thread's last error, so a caller
// can still read it afterwards. Nothing is written once the logger has shut
// down.
#pragma once

#include <string>

// Logs the failed call ATag with AErrorCode, a code the call returned or
// one read before.
void LogFailedCall(const std::wstring& ATag, unsigned long AErrorCode);

// Logs the call ATag that has just failed, with the thread's last error as
// its code, and returns that code.
unsigned long LogFailedCall(const std::wstring& ATag);
