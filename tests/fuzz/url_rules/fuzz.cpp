// The URL objects' text rules on any bytes: parameters set by key (the first
// byte chooses the characters between them), the query and URL rendered from
// them, and the percent-encoding, which must decode back to its input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/FuzzRequire.h"
#include "webclient/URLRules.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);

    const std::string encoded = URLEncode(text);
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c != '%') {
            Require(c > 0x20 && c < 0x7F &&
                    std::string_view("$&+,/:;=?@\"#<>[]\\^`{}|~").find(c) ==
                        std::string_view::npos);
            decoded += c;
            continue;
        }
        Require(i + 2 < encoded.size());
        const int high = HexValue(encoded[i + 1]), low = HexValue(encoded[i + 2]);
        Require(high >= 0 && low >= 0);
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    Require(decoded == text);

    // Key=value pairs separated by zero bytes, set as TURL sets them.
    std::vector<TURLParameter> parameters;
    size_t start = ASize > 0 ? 1 : 0;
    while (start < ASize) {
        size_t end = text.find('\0', start);
        if (end == std::string_view::npos)
            end = ASize;
        const std::string_view pair = text.substr(start, end - start);
        const size_t equals = pair.find('=');
        const std::string key(pair.substr(0, equals));
        const std::string value(equals == std::string_view::npos ? "" : pair.substr(equals + 1));
        const int32_t index = FindURLParameter(parameters, key);
        if (index < 0)
            parameters.push_back({key, value});
        else
            parameters[static_cast<size_t>(index)].Value = value;
        Require(FindURLParameter(parameters, key) ==
                (index < 0 ? int32_t(parameters.size() - 1) : index));
        start = end + 1;
    }
    const char marks = ASize > 0 ? static_cast<char>(AData[0]) : '?';
    const std::string query = RenderURLParameters(parameters, marks, '&', '=');
    size_t length = 0;
    for (const TURLParameter& parameter : parameters)
        length += 2 + parameter.Key.size() + parameter.Value.size();
    Require(query.size() == length);
    const std::string url = RenderURL("127.0.0.1", static_cast<uint32_t>(ASize), text, query);
    Require(url.rfind("http://127.0.0.1:", 0) == 0 && url.size() > text.size() + query.size());
    return 0;
}
