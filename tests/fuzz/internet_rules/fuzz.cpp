// The download client's text rules on any bytes: URL splitting, the server's
// host and port, decimal numbers, the progress percentage and the line forms.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "download/InternetRules.h"
#include "tests/fuzz/FuzzRequire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);

    uint32_t port = 8080;
    bool ssl = false;
    ApplyURLScheme(text, port, ssl);
    Require(port == 8080 || port == 80 || port == 443);

    std::string server = "kept", path = "kept";
    if (SplitURL(text, server, path)) {
        Require(!path.empty() && path[0] == '/');
        Require(server.find('/') == std::string::npos);
        const THostPort target = ServerHostPort(server, 0x12345);
        Require(target.Host.size() <= server.size());
    } else {
        Require(server == "kept" && path == "kept");
    }

    const TDecimal number = ParseDecimal(text);
    if (number.Valid) {
        Require(number.BadPosition == 0);
        // The number written back is the text without its plus sign and leading zeros.
        std::string digits(text);
        const bool negative = !digits.empty() && digits[0] == '-';
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+'))
            digits.erase(0, 1);
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        const std::string written = std::to_string(number.Value);
        Require(written == (negative && written != "0" ? "-" : "") + digits);
    } else {
        // A lone sign is spoilt by the end of the text, one past its last character.
        Require(number.BadPosition >= 1 && number.BadPosition <= ASize + 1);
    }

    if (ASize >= 16) {
        int64_t current = 0, total = 0;
        std::memcpy(&current, AData, 8);
        std::memcpy(&total, AData + 8, 8);
        Require(ProgressPercentage(current, total) <= 100);
    }

    // One length or none: a length is a plain number, anything else carries none.
    const TAnnouncedLength length = AnnouncedLength(text);
    Require(length.Verdict == TLengthVerdict::Length ? length.Value >= 0 : length.Value == 0);
    if (length.Verdict == TLengthVerdict::None)
        Require(length.Text.empty());

    const TStringList lines = TextToLines(text);
    for (const std::wstring& line : lines)
        Require(line.find_first_of(L"\r\n") == std::wstring::npos);
    const std::string joined = LinesToText(lines);
    Require(joined.size() >= 2 * lines.size());
    DelimitedText(lines, ASize > 0 ? static_cast<char>(AData[0]) : ',');
    return 0;
}
