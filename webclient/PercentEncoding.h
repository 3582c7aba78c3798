// Percent-encoding of bytes for URLs; which bytes is the caller's rule.
#pragma once

#include <string>
#include <string_view>

// AText with every byte that AMustEncode picks written as "%" and two
// upper-case hexadecimal digits, and every other byte as it is.
std::string PercentEncode(std::string_view AText, bool (*AMustEncode)(unsigned char AByte));
