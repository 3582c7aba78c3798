// The download client's rules on texts, apart from the platform calls: how a
// URL is split, how the answer's status and length are read, the progress
// percentage, and string lists as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A list of text lines, as the text forms of the download and post operations use it.
using TStringList = std::vector<std::wstring>;

// "https://" (letter case counts) selects port 443 with TLS, "http://" port
// 80 without; any other beginning leaves both as they are.
void ApplyURLScheme(std::string_view AURL, uint32_t& APort, bool& ASSL);

// Everything after the first "://" up to its first "/" is the server, the
// rest from that "/" on the path ("/" when there is none). A port stays in the
// server; query and fragment stay in the path; nothing is escaped. False, and
// both left as they are, when the URL has no "://".
bool SplitURL(std::string_view AURL, std::string& AServer, std::string& APath);

struct THostPort {
    std::string Host;
    uint16_t Port = 0;
};
// The host and port to connect to: a server text "host:port" names its port
// (80 when what follows the first ":" is not a decimal number); otherwise the
// low 16 bits of ADefaultPort.
THostPort ServerHostPort(const std::string& AServer, uint32_t ADefaultPort);

// A whole decimal number: an optional sign and digits, nothing else, within
// 64 bits. When it is not, BadPosition is the 1-based position of the first
// character that spoils it (1 for an empty text).
struct TDecimal {
    bool Valid = false;
    int64_t Value = 0;
    size_t BadPosition = 0;
};
TDecimal ParseDecimal(std::string_view AText);

// A Content-Length as the answer gave it: only plain decimal digits, at least
// one, of a value that fits a signed 64-bit number (leading zeros are plain
// digits). False for anything else: a sign, a space, a fraction, too large.
bool ParseContentLength(std::string_view AText, int64_t& ALength);

// What the Content-Length fields of a raw head (its lines, each ended by CR
// LF) say: none, one length (several fields, or a list in one field, that all
// give the same number count as one), a value that is no plain number, or
// numbers that disagree. Text is the offending value, or the length's.
enum class TLengthVerdict { None, Length, NotANumber, Disagreeing };
struct TAnnouncedLength {
    TLengthVerdict Verdict = TLengthVerdict::None;
    int64_t Value = 0;
    std::string Text;
};
TAnnouncedLength AnnouncedLength(std::string_view ARawHeaders);

// Whether the head the platform hands back (its raw header lines, each
// ended by CR LF) is that of a real answer: a status line "HTTP/<d>.<d> <ddd>"
// (or "HTTP/<d> <ddd>") followed by at least one header field. The platform
// takes an answer without a status line for "HTTP/1.0 200 OK" with no fields
// at all, and a status line cut off before its fields alike; no real server
// sends either.
bool IsAnswerHead(std::string_view ARawHeaders);

// Where a redirect from https://AServer/APath to ALocation leads, as an
// absolute URL: a Location with a scheme stands as it is, one beginning with
// "//" takes the scheme "https:", one beginning with "/" the same server, any
// other replaces the last segment of APath (without its query).
std::string RedirectTarget(const std::string& AServer, const std::string& APath,
                           const std::string& ALocation);
// Whether a URL goes over TLS: its scheme is "https", in any letter case.
bool IsSecureURL(std::string_view AURL);

// 0 when no length was announced (ATotal 0 or less); 100 when all arrived;
// otherwise the share rounded to the nearest whole number, never over 100.
uint8_t ProgressPercentage(int64_t ACurrent, int64_t ATotal);

// Bytes as lines of text in the system's ANSI code page (UTF-8 after a UTF-8
// byte-order mark). Lines end at CR LF, LF or CR; a final line break ends the
// last line and starts no new one.
TStringList TextToLines(std::string_view ABytes);
// Every line ended by CR LF, in the system's ANSI code page.
std::string LinesToText(const TStringList& ALines);
// The lines joined by ADelimiter, as a list's strict delimited text: a line
// holding the delimiter or a double quote is quoted, its quotes doubled; a
// list of one empty line gives two quotes.
std::string DelimitedText(const TStringList& ALines, char ADelimiter);

// The bounds of one transfer that hold whatever the platform does: connecting
// within ConnectMs; the rest of the head (TLS handshake, request, status line
// and header fields) within HeadMs of the connection; then a body that grows
// by at least LowSpeedBytes in every window of LowSpeedWindowMs.
struct TTransferLimits {
    uint32_t ConnectMs = 0;
    uint32_t HeadMs = 0;
    uint32_t LowSpeedBytes = 0;
    uint32_t LowSpeedWindowMs = 0;
};
enum class TTransferPhase { Connecting, Answering, Receiving };
// The clock of one transfer, told what happens and asked whether its phase has
// run over its bound; times in milliseconds of any steady clock.
class TTransferClock {
public:
    TTransferClock(const TTransferLimits& ALimits, uint64_t ANowMs);
    // A new connection (a redirect's too) starts from connecting again.
    void Connecting(uint64_t ANowMs);
    void Connected(uint64_t ANowMs);
    void HeadReceived(uint64_t ANowMs);
    // The body's bytes so far.
    void Received(int64_t ABytes) { FBytes = ABytes; }
    TTransferPhase Phase() const { return FPhase; }
    // True once the phase has run over its bound, or the body grew by less
    // than LowSpeedBytes within a window.
    bool Overdue(uint64_t ANowMs);

private:
    TTransferLimits FLimits;
    TTransferPhase FPhase = TTransferPhase::Connecting;
    uint64_t FPhaseStart = 0;
    int64_t FBytes = 0;
    int64_t FWindowBytes = 0;
};
