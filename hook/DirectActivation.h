// The direct activation of Live Protection: install the driver if needed,
// start it if needed, get the hook library loaded (asking the file-scan
// service first, injecting directly after that) and explain the first step
// that fails.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "hook/HookControls.h"

// The calling thread's last error.
inline DWORD ThreadLastError() {
    return ::GetLastError();
}

// Runs the activation on AHook, with the two things it needs beyond the
// controls: AServiceInject, the first way to get the library loaded, before
// the direct injection; ALastError, the cause of a failed step, read right
// after it. True when Live Protection is active at the end. Otherwise
// AErrorMessage is the translated message of the first step that failed; on
// success it is left as passed. When Windows refused to start the driver
// (577, 1275) the message has a second line, after a "\n", that says what to
// check.
bool InstallHook(THookControls& AHook, const std::function<bool()>& AServiceInject,
                 std::wstring& AErrorMessage,
                 const std::function<DWORD()>& ALastError = ThreadLastError);

// The translated line for a driver start that failed with AErrorCode when
// Windows refused the driver (DriverRefusalAdvice); empty for other codes.
std::wstring DriverRefusalLine(DWORD AErrorCode);
