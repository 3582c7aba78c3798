#include "download/InternetRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/WinText.h"

void ApplyURLScheme(std::string_view AURL, uint32_t& APort, bool& ASSL) {
    if (AURL.substr(0, 8) == "https://") {
        APort = 443;
        ASSL = true;
    } else if (AURL.substr(0, 7) == "http://") {
        APort = 80;
        ASSL = false;
    }
}

bool SplitURL(std::string_view AURL, std::string& AServer, std::string& APath) {
    const size_t scheme = AURL.find("://");
    if (scheme == std::string_view::npos)
        return false;
    const std::string_view rest = AURL.substr(scheme + 3);
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        AServer.assign(rest);
        APath = "/";
    } else {
        AServer.assign(rest.substr(0, slash));
        APath.assign(rest.substr(slash));
    }
    return true;
}

THostPort ServerHostPort(const std::string& AServer, uint32_t ADefaultPort) {
    const size_t colon = AServer.find(':');
    if (colon == std::string::npos)
        return {AServer, static_cast<uint16_t>(ADefaultPort & 0xFFFF)};
    // A port text that is no number within 32 bits counts as none; a number
    // too large for a port keeps its low 16 bits, as the platform's port type does.
    const TDecimal port = ParseDecimal(std::string_view(AServer).substr(colon + 1));
    const bool usable = port.Valid && port.Value >= std::numeric_limits<int32_t>::min() &&
                        port.Value <= std::numeric_limits<int32_t>::max();
    return {AServer.substr(0, colon),
            static_cast<uint16_t>(usable ? static_cast<uint32_t>(port.Value) & 0xFFFF : 80)};
}

TDecimal ParseDecimal(std::string_view AText) {
    TDecimal result;
    size_t i = 0;
    const bool negative = !AText.empty() && AText[0] == '-';
    if (!AText.empty() && (AText[0] == '-' || AText[0] == '+'))
        ++i;
    if (i == AText.size()) {
        result.BadPosition = i + 1;
        return result;
    }
    // Accumulated as a negative number, which reaches the smallest value too.
    int64_t value = 0;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    for (; i < AText.size(); ++i) {
        const char c = AText[i];
        const int digit = c - '0';
        if (c < '0' || c > '9' || value < (lowest + digit) / 10) {
            result.BadPosition = i + 1;
            return result;
        }
        value = value * 10 - digit;
    }
    if (!negative && value == lowest) {
        result.BadPosition = AText.size();
        return result;
    }
    result.Valid = true;
    result.Value = negative ? value : -value;
    return result;
}

bool ParseContentLength(std::string_view AText, int64_t& ALength) {
    // Digits only: no sign, so the value is never below 0.
    if (AText.empty() || AText[0] < '0' || AText[0] > '9')
        return false;
    const TDecimal length = ParseDecimal(AText);
    if (!length.Valid)
        return false;
    ALength = length.Value;
    return true;
}

namespace {

bool IsDigit(char AChar) {
    return AChar >= '0' && AChar <= '9';
}

char Lower(char AChar) {
    return AChar >= 'A' && AChar <= 'Z' ? static_cast<char>(AChar - 'A' + 'a') : AChar;
}

} // namespace

bool IsAnswerHead(std::string_view ARawHeaders) {
    const size_t end = ARawHeaders.find("\r\n");
    if (end == std::string_view::npos)
        return false;
    // "HTTP/" and the version (one digit, or two with a dot), a space, three
    // digits, then the end or a space and the reason. A status starts at 100:
    // below it, it would pass for one of the download's own codes (1, 18).
    std::string_view status = ARawHeaders.substr(0, end);
    if (status.substr(0, 5) != "HTTP/" || status.size() < 6 || !IsDigit(status[5]))
        return false;
    status.remove_prefix(6);
    if (status.size() >= 2 && status[0] == '.' && IsDigit(status[1]))
        status.remove_prefix(2);
    if (status.size() < 4 || status[0] != ' ' || !IsDigit(status[1]) || status[1] == '0' ||
        !IsDigit(status[2]) || !IsDigit(status[3]) || (status.size() > 4 && status[4] != ' '))
        return false;
    // The first field: a name, a colon.
    const std::string_view fields = ARawHeaders.substr(end + 2);
    const size_t colon = fields.find(':');
    const size_t lineEnd = fields.find("\r\n");
    return colon != std::string_view::npos && colon > 0 && colon < lineEnd;
}

TAnnouncedLength AnnouncedLength(std::string_view ARawHeaders) {
    constexpr std::string_view name = "content-length";
    TAnnouncedLength result;
    const auto trim = [](std::string_view AText) {
        const size_t first = AText.find_first_not_of(" \t");
        if (first == std::string_view::npos)
            return std::string_view();
        return AText.substr(first, AText.find_last_not_of(" \t") - first + 1);
    };
    // The status line first, then one field a line.
    size_t line = ARawHeaders.find("\r\n");
    while (line != std::string_view::npos && line + 2 < ARawHeaders.size()) {
        const size_t start = line + 2;
        const size_t end = std::min(ARawHeaders.find("\r\n", start), ARawHeaders.size());
        line = end < ARawHeaders.size() ? end : std::string_view::npos;
        const std::string_view field = ARawHeaders.substr(start, end - start);
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos || trim(field.substr(0, colon)).size() != name.size())
            continue;
        bool named = true;
        const std::string_view fieldName = trim(field.substr(0, colon));
        for (size_t i = 0; i < name.size(); ++i)
            named = named && Lower(fieldName[i]) == name[i];
        if (!named)
            continue;
        // A list "100, 100" is one value said twice.
        std::string_view values = field.substr(colon + 1);
        for (;;) {
            const size_t comma = values.find(',');
            const std::string_view text = trim(values.substr(0, comma));
            int64_t value = 0;
            if (!ParseContentLength(text, value))
                return {TLengthVerdict::NotANumber, 0, std::string(text)};
            if (result.Verdict == TLengthVerdict::Length && value != result.Value)
                return {TLengthVerdict::Disagreeing, 0, result.Text + " " + std::string(text)};
            if (result.Verdict == TLengthVerdict::None)
                result = {TLengthVerdict::Length, value, std::string(text)};
            if (comma == std::string_view::npos)
                break;
            values.remove_prefix(comma + 1);
        }
    }
    return result;
}

bool IsSecureURL(std::string_view AURL) {
    constexpr std::string_view scheme = "https://";
    if (AURL.size() < scheme.size())
        return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (Lower(AURL[i]) != scheme[i])
            return false;
    return true;
}

std::string RedirectTarget(const std::string& AServer, const std::string& APath,
                           const std::string& ALocation) {
    const size_t scheme = ALocation.find("://");
    const size_t firstSeparator = ALocation.find_first_of("/?#");
    if (scheme != std::string::npos && scheme < firstSeparator)
        return ALocation;
    if (ALocation.rfind("//", 0) == 0)
        return "https:" + ALocation;
    const std::string origin = "https://" + AServer;
    if (!ALocation.empty() && ALocation[0] == '/')
        return origin + ALocation;
    const std::string path = APath.substr(0, APath.find_first_of("?#"));
    return origin + path.substr(0, path.rfind('/') + 1) + ALocation;
}

uint8_t ProgressPercentage(int64_t ACurrent, int64_t ATotal) {
    if (ATotal <= 0)
        return 0;
    if (ACurrent == ATotal)
        return 100;
    const double share =
        std::nearbyint(static_cast<double>(ACurrent) * 100.0 / static_cast<double>(ATotal));
    return share >= 100.0 ? 100 : share <= 0.0 ? 0 : static_cast<uint8_t>(share);
}

TStringList TextToLines(std::string_view ABytes) {
    const bool utf8 = ABytes.substr(0, 3) == "\xEF\xBB\xBF";
    if (utf8)
        ABytes.remove_prefix(3);
    TStringList lines;
    size_t start = 0;
    while (start < ABytes.size()) {
        size_t end = start;
        while (end < ABytes.size() && ABytes[end] != '\r' && ABytes[end] != '\n')
            ++end;
        const std::string_view line = ABytes.substr(start, end - start);
        lines.push_back(utf8 ? Utf8ToWide(line) : AnsiToWide(line));
        if (end < ABytes.size() && ABytes[end] == '\r' && end + 1 < ABytes.size() &&
            ABytes[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

std::string LinesToText(const TStringList& ALines) {
    std::string text;
    for (const std::wstring& line : ALines)
        text += WideToAnsi(line) + "\r\n";
    return text;
}

std::string DelimitedText(const TStringList& ALines, char ADelimiter) {
    if (ALines.size() == 1 && ALines[0].empty())
        return "\"\"";
    std::string text;
    for (size_t i = 0; i < ALines.size(); ++i) {
        const std::string line = WideToAnsi(ALines[i]);
        if (i > 0)
            text += ADelimiter;
        if (line.find_first_of(std::string{'"', ADelimiter}) == std::string::npos) {
            text += line;
            continue;
        }
        text += '"';
        for (const char c : line) {
            if (c == '"')
                text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

TTransferClock::TTransferClock(const TTransferLimits& ALimits, uint64_t ANowMs)
    : FLimits(ALimits), FPhaseStart(ANowMs) {}

void TTransferClock::Connecting(uint64_t ANowMs) {
    FPhase = TTransferPhase::Connecting;
    FPhaseStart = ANowMs;
    FBytes = FWindowBytes = 0;
}

void TTransferClock::Connected(uint64_t ANowMs) {
    if (FPhase != TTransferPhase::Connecting)
        return;
    FPhase = TTransferPhase::Answering;
    FPhaseStart = ANowMs;
}

void TTransferClock::HeadReceived(uint64_t ANowMs) {
    FPhase = TTransferPhase::Receiving;
    FPhaseStart = ANowMs;
    FBytes = FWindowBytes = 0;
}

bool TTransferClock::Overdue(uint64_t ANowMs) {
    const uint64_t elapsed = ANowMs > FPhaseStart ? ANowMs - FPhaseStart : 0;
    switch (FPhase) {
    case TTransferPhase::Connecting:
        return elapsed >= FLimits.ConnectMs;
    case TTransferPhase::Answering:
        return elapsed >= FLimits.HeadMs;
    case TTransferPhase::Receiving:
        if (elapsed < FLimits.LowSpeedWindowMs)
            return false;
        if (FBytes - FWindowBytes < static_cast<int64_t>(FLimits.LowSpeedBytes))
            return true;
        // The next window starts here, with what has arrived so far.
        FPhaseStart = ANowMs;
        FWindowBytes = FBytes;
        return false;
    }
    return false;
}
