#include "platform/WinText.h"

#include <windows.h>

namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty())
        return {};
    const int size =
        ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          size);
    return result;
}

std::string FromWide(UINT codePage, std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          size, nullptr, nullptr);
    return result;
}

} // namespace

std::wstring Utf8ToWide(std::string_view text) {
    return ToWide(CP_UTF8, text);
}
std::string WideToUtf8(std::wstring_view text) {
    return FromWide(CP_UTF8, text);
}
std::wstring AnsiToWide(std::string_view text) {
    return ToWide(CP_ACP, text);
}
std::string WideToAnsi(std::wstring_view text) {
    return FromWide(CP_ACP, text);
}
bool SameTextIgnoringCase(std::wstring_view ALeft, std::wstring_view ARight) {
    // The upper-case table maps unit to unit; an empty view may hold no
    // pointer, which the system call refuses.
    if (ALeft.size() != ARight.size())
        return false;
    if (ALeft.empty())
        return true;
    return ::CompareStringOrdinal(ALeft.data(), static_cast<int>(ALeft.size()), ARight.data(),
                                  static_cast<int>(ARight.size()), TRUE) == CSTR_EQUAL;
}
