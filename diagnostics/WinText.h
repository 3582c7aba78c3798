// Conversions between UTF-16 and the 8-bit encodings the system's interfaces use.
#pragma once

#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// Through the system's ANSI code page (CP_ACP).
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
