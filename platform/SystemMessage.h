// The operating system's text for an error code, as every message of the tool
// shows it: from the system message table (a WinINet code from WinINet's own
// table first), inserts ignored, default language, with trailing characters
// of code 32 or below and trailing full stops removed. The thread's last
// error is left as it was.
#pragma once

#include <string>

std::wstring SystemMessage(unsigned long AErrorCode);

// WinINet's error codes (INTERNET_ERROR_BASE and the range it reserves).
inline constexpr unsigned long InternetErrorFirst = 12000;
inline constexpr unsigned long InternetErrorLast = 12999;

// The trimming rule alone, for texts obtained elsewhere.
std::wstring TrimSystemMessage(std::wstring text);
