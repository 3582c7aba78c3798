#include "webclient/HttpAnswer.h"

#include <limits>
#include <optional>

#include "platform/ASCIICase.h"

namespace {

// A head longer than this is no answer of a small web interface.
constexpr size_t MaxHeadSize = 64 * 1024;
constexpr size_t Unbounded = std::numeric_limits<size_t>::max();

bool IsDigit(char AChar) {
    return AChar >= '0' && AChar <= '9';
}

int HexValue(char AChar) {
    if (IsDigit(AChar))
        return AChar - '0';
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

bool SameText(std::string_view ALeft, std::string_view ARight) {
    return SameIgnoringASCIICase(ALeft, ARight);
}

std::string_view Trimmed(std::string_view AText) {
    while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t'))
        AText.remove_prefix(1);
    while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t'))
        AText.remove_suffix(1);
    return AText;
}

// The line starting at APosition without its line end (CRLF, or a bare LF as
// lenient clients accept); ANext gets the position after it. Nothing when the
// line has not ended yet.
std::optional<std::string_view> LineAt(std::string_view AText, size_t APosition, size_t& ANext) {
    const size_t end = AText.find('\n', APosition);
    if (end == std::string_view::npos)
        return std::nullopt;
    ANext = end + 1;
    std::string_view line = AText.substr(APosition, end - APosition);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// "HTTP/" digit "." digit, a space, three digits, then the end or a space and
// the reason text. A status below 100 belongs to no class of answers: 0 is
// what the caller reads as "no status".
std::optional<uint32_t> StatusOfLine(std::string_view ALine) {
    if (ALine.size() < 12 || ALine.substr(0, 5) != "HTTP/" || !IsDigit(ALine[5]) ||
        ALine[6] != '.' || !IsDigit(ALine[7]) || ALine[8] != ' ')
        return std::nullopt;
    const std::string_view code = ALine.substr(9, 3);
    for (const char c : code)
        if (!IsDigit(c))
            return std::nullopt;
    if (code[0] == '0' || (ALine.size() > 12 && ALine[12] != ' '))
        return std::nullopt;
    return static_cast<uint32_t>((code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0'));
}

// A plain decimal number that fits 64 bits.
std::optional<uint64_t> DecimalLength(std::string_view AText) {
    if (AText.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : AText) {
        if (!IsDigit(c))
            return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

enum TFraming { frNone, frChunked, frLength, frClose };

struct THead {
    uint32_t Status = 0;
    TFraming Framing = frClose;
    uint64_t Length = 0;
};

// Reads the header lines from APosition to the empty line; ANext gets the
// position after it. Nothing while the head is still coming; ABroken set when
// it cannot be read.
std::optional<THead> ReadHeaders(std::string_view AText, size_t APosition, uint32_t AStatus,
                                 size_t& ANext, bool& ABroken) {
    THead head;
    head.Status = AStatus;
    bool chunked = false, otherCoding = false;
    std::optional<uint64_t> length;
    for (;;) {
        size_t next = 0;
        const std::optional<std::string_view> line = LineAt(AText, APosition, next);
        if (!line)
            return std::nullopt;
        APosition = next;
        if (line->empty())
            break;
        const size_t colon = line->find(':');
        // A line without a name, or one folded onto the line before it.
        if (colon == std::string_view::npos || colon == 0 || line->front() == ' ' ||
            line->front() == '\t') {
            ABroken = true;
            return std::nullopt;
        }
        const std::string_view name = line->substr(0, colon);
        const std::string_view value = Trimmed(line->substr(colon + 1));
        if (SameText(name, "Transfer-Encoding")) {
            // The codings in order; only a last "chunked" frames the body.
            const size_t comma = value.rfind(',');
            const std::string_view last =
                Trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1));
            chunked = SameText(last, "chunked");
            otherCoding = !chunked;
        } else if (SameText(name, "Content-Length")) {
            const std::optional<uint64_t> stated = DecimalLength(value);
            if (!stated || (length && *length != *stated)) {
                ABroken = true;
                return std::nullopt;
            }
            length = stated;
        }
    }
    ANext = APosition;
    // No body after these, whatever the head says.
    if (AStatus < 200 || AStatus == 204 || AStatus == 304)
        head.Framing = frNone;
    else if (chunked)
        head.Framing = frChunked;
    else if (otherCoding)
        head.Framing = frClose; // a coding we cannot end otherwise runs to the close
    else if (length) {
        head.Framing = frLength;
        head.Length = *length;
    }
    return head;
}

// Reads the chunked body from APosition into AAnswer.
void ReadChunked(std::string_view AText, size_t APosition, bool AClosed, THttpAnswer& AAnswer) {
    for (;;) {
        size_t next = 0;
        const std::optional<std::string_view> line = LineAt(AText, APosition, next);
        if (!line) {
            AAnswer.Needed = AText.size() + 1;
            break;
        }
        // The size in hexadecimal digits, then nothing or an extension after ";".
        uint64_t size = 0;
        size_t i = 0;
        for (; i < line->size() && HexValue((*line)[i]) >= 0; ++i) {
            if (size >> 60) {
                AAnswer.State = hasBroken;
                return;
            }
            size = size * 16 + static_cast<uint64_t>(HexValue((*line)[i]));
        }
        const std::string_view rest = Trimmed(line->substr(i));
        if (i == 0 || (!rest.empty() && rest.front() != ';')) {
            AAnswer.State = hasBroken;
            return;
        }
        APosition = next;
        if (size == 0) {
            // The trailer's lines up to the empty line.
            for (;;) {
                const std::optional<std::string_view> trailer = LineAt(AText, APosition, next);
                if (!trailer) {
                    AAnswer.Needed = AText.size() + 1;
                    break;
                }
                APosition = next;
                if (trailer->empty()) {
                    AAnswer.State = hasComplete;
                    return;
                }
            }
            break;
        }
        const size_t available = AText.size() - APosition;
        if (size > available) {
            AAnswer.Body.append(AText.substr(APosition));
            AAnswer.Needed = size - available > Unbounded - AText.size()
                                 ? Unbounded
                                 : AText.size() + static_cast<size_t>(size - available);
            break;
        }
        AAnswer.Body.append(AText.substr(APosition, static_cast<size_t>(size)));
        APosition += static_cast<size_t>(size);
        // The chunk's data ends with a line end and nothing else.
        const std::string_view after = AText.substr(APosition, 2);
        if (after == "\r\n" || (!after.empty() && after[0] == '\n')) {
            APosition += after[0] == '\n' ? 1 : 2;
            continue;
        }
        if (after.empty() || after == "\r") {
            AAnswer.Needed = APosition + 2;
            break;
        }
        AAnswer.State = hasBroken;
        return;
    }
    if (AClosed)
        AAnswer.State = hasBroken;
}

} // namespace

THttpAnswer ReadHttpAnswer(std::string_view AReceived, bool AClosed) {
    THttpAnswer answer;
    size_t position = 0;
    std::optional<THead> head;
    while (!head) {
        size_t next = 0;
        const std::optional<std::string_view> statusLine = LineAt(AReceived, position, next);
        if (!statusLine) {
            // Not even a status line yet: wrong from its first bytes, or still coming.
            const std::string_view start = AReceived.substr(position, 5);
            if (start != std::string_view("HTTP/").substr(0, start.size()) ||
                AReceived.size() - position > MaxHeadSize || AClosed)
                answer.State = hasBroken;
            answer.Needed = AReceived.size() + 1;
            return answer;
        }
        const std::optional<uint32_t> status = StatusOfLine(*statusLine);
        if (!status) {
            answer.State = hasBroken;
            return answer;
        }
        answer.StatusCode = *status;
        bool broken = false;
        size_t bodyStart = 0;
        head = ReadHeaders(AReceived, next, *status, bodyStart, broken);
        if (broken || (!head && (AReceived.size() - position > MaxHeadSize || AClosed))) {
            answer.State = hasBroken;
            return answer;
        }
        if (!head) {
            answer.Needed = AReceived.size() + 1;
            return answer;
        }
        // An interim answer (100 Continue and the like) precedes the final
        // one; 101 would switch protocols, which a GET never asks for.
        if (*status >= 100 && *status < 200 && *status != 101) {
            answer.StatusCode = 0;
            head.reset();
            position = bodyStart;
            continue;
        }
        position = bodyStart;
    }

    const std::string_view rest = AReceived.substr(position);
    switch (head->Framing) {
    case frNone:
        answer.State = hasComplete;
        break;
    case frLength:
        if (rest.size() >= head->Length) {
            answer.Body.assign(rest.substr(0, static_cast<size_t>(head->Length)));
            answer.State = hasComplete;
        } else {
            answer.Body.assign(rest);
            answer.State = AClosed ? hasBroken : hasIncomplete;
            answer.Needed =
                head->Length - rest.size() > Unbounded - AReceived.size()
                    ? Unbounded
                    : AReceived.size() + static_cast<size_t>(head->Length - rest.size());
        }
        break;
    case frClose:
        answer.Body.assign(rest);
        answer.State = AClosed ? hasComplete : hasIncomplete;
        answer.Needed = Unbounded;
        break;
    case frChunked:
        ReadChunked(AReceived, position, AClosed, answer);
        break;
    }
    return answer;
}
