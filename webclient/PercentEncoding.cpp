#include "webclient/PercentEncoding.h"

std::string PercentEncode(std::string_view AText, bool (*AMustEncode)(unsigned char AByte)) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(AText.size());
    for (const char c : AText) {
        const auto byte = static_cast<unsigned char>(c);
        if (AMustEncode(byte)) {
            encoded += '%';
            encoded += Hex[byte >> 4];
            encoded += Hex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}
