// What the application object provides around the one window: its title, the
// error box for errors that escape a handler, and the message loop.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

inline constexpr const wchar_t* ApplicationTitle = L"Vexlo Live Protection Test";

// The text an escaped error shows: the message of a standard exception (UTF-8).
std::wstring ExceptionText(const std::exception& AError);

// Shows AText in a modal error box captioned with the application title.
void ShowErrorBox(HWND AOwner, const std::wstring& AText);

// Runs AWork; an error that escapes it is shown in the error box and stops
// there. Returns whether AWork completed.
bool RunGuarded(HWND AOwner, const std::function<void()>& AWork);

// Runs the message loop until WM_QUIT; returns its exit code. Messages for
// AMainWindow go through IsDialogMessageW so that Tab moves between controls.
int RunMessageLoop(HWND AMainWindow);
