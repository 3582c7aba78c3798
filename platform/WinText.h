// Conversions between UTF-16 and the 8-bit encodings the system's interfaces
// use, and the system's case-blind comparison. The pure modules use these
// alone of the platform; their native fuzz builds link stand-ins.
#pragma once

#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// Through the system's ANSI code page (CP_ACP).
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
// Ordinal, through the system's upper-case table: the same for every locale.
bool SameTextIgnoringCase(std::wstring_view ALeft, std::wstring_view ARight);
