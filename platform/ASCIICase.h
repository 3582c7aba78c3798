// Comparing texts as protocol and resource keys are compared: letters A to Z
// equal to a to z, every other character only to itself, whatever the
// system's language. Free of platform headers.
#pragma once

#include <string_view>

template <typename TChar> constexpr TChar LowerASCII(TChar AChar) {
    return AChar >= TChar('A') && AChar <= TChar('Z') ? static_cast<TChar>(AChar - 'A' + 'a')
                                                      : AChar;
}

template <typename TChar>
constexpr bool SameIgnoringASCIICase(std::basic_string_view<TChar> ALeft,
                                     std::basic_string_view<TChar> ARight) {
    if (ALeft.size() != ARight.size())
        return false;
    for (size_t i = 0; i < ALeft.size(); ++i)
        if (LowerASCII(ALeft[i]) != LowerASCII(ARight[i]))
            return false;
    return true;
}
