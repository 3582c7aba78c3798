// Message lines that name an error: a translated format filled with the
// error's code and the system's text for it.
#pragma once

#include <cstdint>
#include <string>

// Fills a message format's "%d" with the code as a signed number and the
// "%s" after it with the text; "%%" is a percent sign. Any other "%" stays as
// it is, so a translated format can never read beyond its two values.
std::wstring FormatCodeMessage(const std::wstring& AFormat, int32_t ACode,
                               const std::wstring& AText);
