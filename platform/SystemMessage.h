// The operating system's text for an error code, as every message of the tool
// shows it: from the system message table, inserts ignored, default language,
// with trailing characters of code 32 or below and trailing full stops removed.
#pragma once

#include <string>

std::wstring SystemMessage(unsigned long AErrorCode);

// The trimming rule alone, for texts obtained elsewhere.
std::wstring TrimSystemMessage(std::wstring text);
