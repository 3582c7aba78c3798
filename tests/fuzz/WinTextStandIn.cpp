// Native stand-ins for the platform's text conversions (platform/WinText.h),
// for the fuzz builds only: the system's ANSI code page becomes Latin-1, UTF-8
// is decoded with a replacement character for a broken sequence, and the
// case-blind comparison folds ASCII letters.
#include "platform/WinText.h"

namespace {

wchar_t UpperASCII(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

} // namespace

// As the platform decodes: a sequence that is cut short, overlong, a
// surrogate or beyond U+10FFFF becomes one replacement character for its
// first byte (an overlong CR must not end a line).
std::wstring Utf8ToWide(std::string_view text) {
    std::wstring result;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80         ? 1
                              : (lead >> 5) == 6  ? 2
                              : (lead >> 4) == 14 ? 3
                              : (lead >> 3) == 30 ? 4
                                                  : 0;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code >= Smallest[length] && code <= 0x10FFFF &&
                (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            result += L'\uFFFD';
            ++i;
            continue;
        }
        result += static_cast<wchar_t>(code);
        i += length;
    }
    return result;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string result;
    for (const wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        if (c < 0x80) {
            result += static_cast<char>(c);
        } else if (c < 0x800) {
            result += static_cast<char>(0xC0 | (c >> 6));
            result += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            result += static_cast<char>(0xE0 | ((c >> 12) & 0x0F));
            result += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            result += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
            result += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            result += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return result;
}

std::wstring AnsiToWide(std::string_view text) {
    std::wstring result;
    for (const char c : text)
        result += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return result;
}

std::string WideToAnsi(std::wstring_view text) {
    std::string result;
    for (const wchar_t w : text)
        result += static_cast<unsigned>(w) < 0x100 ? static_cast<char>(w) : '?';
    return result;
}

bool SameTextIgnoringCase(std::wstring_view ALeft, std::wstring_view ARight) {
    if (ALeft.size() != ARight.size())
        return false;
    for (size_t i = 0; i < ALeft.size(); ++i)
        if (UpperASCII(ALeft[i]) != UpperASCII(ARight[i]))
            return false;
    return true;
}
