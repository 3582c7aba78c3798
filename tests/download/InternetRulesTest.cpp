// The download client's text rules, as tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "download/InternetRules.h"
#include "download/MemoryStream.h"

namespace {

TEST(InternetRules, SplittingURLs) {
    struct TCase {
        std::string URL;
        uint32_t PortBefore;
        bool SSLBefore;
        bool Split;
        std::string Server, Path;
        uint32_t Port;
        bool SSL;
    };
    const TCase cases[] = {
        {"noscheme.example/file", 80, false, false, "", "", 80, false},
        {"https://host", 80, false, true, "host", "/", 443, true},
        {"https://host:8443/f", 80, false, true, "host:8443", "/f", 443, true},
        {"http://host/a?b=1&c=%20#top", 443, true, true, "host", "/a?b=1&c=%20#top", 80, false},
        // Another scheme keeps what the object had.
        {"ftp://host/x", 80, false, true, "host", "/x", 80, false},
        {"ftp://host/x", 443, true, true, "host", "/x", 443, true},
        // Letter case counts: no scheme that switches anything.
        {"HTTPS://host/", 80, false, true, "host", "/", 80, false},
        {"http://user@host:81/p/q://r", 443, true, true, "user@host:81", "/p/q://r", 80, false},
        {"http://", 443, true, true, "", "/", 80, false},
    };
    for (const TCase& c : cases) {
        uint32_t port = c.PortBefore;
        bool ssl = c.SSLBefore;
        ApplyURLScheme(c.URL, port, ssl);
        std::string server = "unchanged", path = "unchanged";
        EXPECT_EQ(SplitURL(c.URL, server, path), c.Split) << c.URL;
        if (c.Split) {
            EXPECT_EQ(server, c.Server) << c.URL;
            EXPECT_EQ(path, c.Path) << c.URL;
        } else {
            EXPECT_EQ(server, "unchanged") << c.URL;
        }
        EXPECT_EQ(port, c.Port) << c.URL;
        EXPECT_EQ(ssl, c.SSL) << c.URL;
    }
}

TEST(InternetRules, ServerTextNamesThePort) {
    struct TCase {
        std::string Server;
        uint32_t DefaultPort;
        std::string Host;
        uint16_t Port;
    };
    const TCase cases[] = {
        {"host", 443, "host", 443},
        {"host", 0x10050, "host", 80}, // the low 16 bits
        {"host:8443", 80, "host", 8443},
        {"host:", 443, "host", 80},
        {"host:abc", 443, "host", 80},
        {"host:1:2", 443, "host", 80},
        {"host:70000", 443, "host", 70000 - 65536},
        {"host:99999999999", 443, "host", 80},
        {":81", 443, "", 81},
    };
    for (const TCase& c : cases) {
        const THostPort target = ServerHostPort(c.Server, c.DefaultPort);
        EXPECT_EQ(target.Host, c.Host) << c.Server;
        EXPECT_EQ(target.Port, c.Port) << c.Server;
    }
}

TEST(InternetRules, WholeDecimalNumbers) {
    struct TCase {
        std::string Text;
        bool Valid;
        int64_t Value;
        size_t BadPosition;
    };
    const TCase cases[] = {
        {"200", true, 200, 0},
        {"+7", true, 7, 0},
        {"-5", true, -5, 0},
        {"9223372036854775807", true, INT64_MAX, 0},
        {"-9223372036854775808", true, INT64_MIN, 0},
        {"9223372036854775808", false, 0, 19},
        {"99999999999999999999", false, 0, 19},
        {"", false, 0, 1},
        {"-", false, 0, 2},
        {"20a", false, 0, 3},
        {" 200", false, 0, 1},
        {"200 OK", false, 0, 4},
    };
    for (const TCase& c : cases) {
        const TDecimal number = ParseDecimal(c.Text);
        EXPECT_EQ(number.Valid, c.Valid) << c.Text;
        if (c.Valid) {
            EXPECT_EQ(number.Value, c.Value) << c.Text;
        } else {
            EXPECT_EQ(number.BadPosition, c.BadPosition) << c.Text;
        }
    }
}

TEST(InternetRules, AContentLengthIsAPlainNumber) {
    struct TCase {
        std::string Text;
        bool Valid;
        int64_t Length;
    };
    const TCase cases[] = {
        {"0", true, 0},
        {"78362", true, 78362},
        {std::string(40, '0') + "1000", true, 1000},
        {"9223372036854775807", true, INT64_MAX},
        {"9223372036854775808", false, 0},
        {"99999999999999999999", false, 0},
        {"-1", false, 0},
        {"+5", false, 0},
        {"", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"1e3", false, 0},
        {"0x10", false, 0},
        {"12,5", false, 0},
    };
    for (const TCase& c : cases) {
        int64_t length = -7;
        EXPECT_EQ(ParseContentLength(c.Text, length), c.Valid) << c.Text;
        EXPECT_EQ(length, c.Valid ? c.Length : -7) << c.Text;
    }
}

TEST(InternetRules, AnAnswerHeadHasAStatusLineAndFields) {
    struct TCase {
        std::string Head;
        bool Real;
    };
    const TCase cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", true},
        {"HTTP/1.0 404\r\nServer: x\r\n\r\n", true},
        {"HTTP/1.1 200 \r\nA:\r\n\r\n", true},
        {"HTTP/2 200\r\ncontent-length: 5\r\n\r\n", true},
        // What the platform makes of an answer without a status line, or of
        // a status line cut off before its fields.
        {"HTTP/1.0 200 OK\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\n\r\n", false},
        {"", false},
        {"HTTP/1.1 200 OK", false},
        {"HTTP/1.1 20 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/1.1 2000 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/1.1 999 Odd\r\nA: b\r\n\r\n", true},
        {"HTTP/1.1 018 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/1.1 001 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/x.1 200 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/1. 200 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/1.1200 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/1.1 200OK\r\nA: b\r\n\r\n", false},
        {"ICY 200 OK\r\nA: b\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\nno field here\r\nA: b\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\n: nameless\r\n\r\n", false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(IsAnswerHead(c.Head), c.Real) << c.Head;
}

TEST(InternetRules, OneLengthOrNone) {
    struct TCase {
        std::string Fields;
        TLengthVerdict Verdict;
        int64_t Value;
    };
    const TCase cases[] = {
        {"Server: x\r\n", TLengthVerdict::None, 0},
        {"Content-Length: 5\r\n", TLengthVerdict::Length, 5},
        {"content-length:5\r\nServer: x\r\n", TLengthVerdict::Length, 5},
        // The same number twice, as two fields or as a list, is one length.
        {"Content-Length: 5\r\nCONTENT-LENGTH: 5\r\n", TLengthVerdict::Length, 5},
        {"Content-Length: 5, 5\r\n", TLengthVerdict::Length, 5},
        {"Content-Length: 007\r\nContent-Length: 7\r\n", TLengthVerdict::Length, 7},
        // Two that disagree, the true one first or last.
        {"Content-Length: 207362\r\nContent-Length: 100\r\n", TLengthVerdict::Disagreeing, 0},
        {"Content-Length: 100\r\nX: y\r\nContent-Length: 207362\r\n", TLengthVerdict::Disagreeing,
         0},
        {"Content-Length: 5, 6\r\n", TLengthVerdict::Disagreeing, 0},
        {"Content-Length: -1\r\n", TLengthVerdict::NotANumber, 0},
        {"Content-Length: 5\r\nContent-Length: five\r\n", TLengthVerdict::NotANumber, 0},
        {"Content-Length: 5,\r\n", TLengthVerdict::NotANumber, 0},
        {"Content-Length:\r\n", TLengthVerdict::NotANumber, 0},
        {"Content-Length: 99999999999999999999\r\n", TLengthVerdict::NotANumber, 0},
        // Other names that only begin or end alike.
        {"Content-Length-X: 5\r\nX-Content-Length: 6\r\n", TLengthVerdict::None, 0},
    };
    for (const TCase& c : cases) {
        const TAnnouncedLength length = AnnouncedLength("HTTP/1.1 200 OK\r\n" + c.Fields + "\r\n");
        EXPECT_EQ(length.Verdict, c.Verdict) << c.Fields;
        EXPECT_EQ(length.Value, c.Value) << c.Fields;
    }
    // The status line is no field, whatever it says.
    EXPECT_EQ(AnnouncedLength("Content-Length: 5\r\n\r\n").Verdict, TLengthVerdict::None);
}

TEST(InternetRules, EveryPhaseOfATransferHasItsBound) {
    // Connect within 100 ms, the head within 200 ms of it, then at least 10
    // bytes in every 1000 ms.
    const TTransferLimits limits{100, 200, 10, 1000};
    enum TEvent { Connected, Head, Bytes, Connecting, Check };
    struct TStep {
        uint64_t At;
        TEvent Event;
        int64_t Bytes; // for Bytes: the total so far; for Check: whether overdue
    };
    struct TCase {
        const char* Name;
        std::vector<TStep> Steps;
    };
    const TCase cases[] = {
        {"no connection", {{99, Check, 0}, {100, Check, 1}}},
        {"a dripped head", {{50, Connected, 0}, {249, Check, 0}, {250, Check, 1}}},
        {"a redirect connects anew",
         {{50, Connected, 0}, {200, Connecting, 0}, {299, Check, 0}, {300, Check, 1}}},
        {"a trickle",
         {{10, Connected, 0}, {20, Head, 0}, {500, Bytes, 9}, {1019, Check, 0}, {1020, Check, 1}}},
        {"a slow line that keeps the rate",
         {{10, Connected, 0},
          {20, Head, 0},
          {900, Bytes, 10},
          {1020, Check, 0},
          {1800, Bytes, 20},
          {2020, Check, 0},
          {3019, Check, 0},
          {3020, Check, 1}}},
        {"a stall after a burst",
         {{10, Connected, 0},
          {20, Head, 0},
          {30, Bytes, 100000},
          {1020, Check, 0},
          {2020, Check, 1}}},
        {"the body is not held to the head's bounds",
         {{10, Connected, 0}, {20, Head, 0}, {500, Check, 0}, {1019, Check, 0}}},
    };
    for (const TCase& c : cases) {
        TTransferClock clock(limits, 0);
        for (const TStep& step : c.Steps) {
            switch (step.Event) {
            case Connected:
                clock.Connected(step.At);
                break;
            case Head:
                clock.HeadReceived(step.At);
                break;
            case Bytes:
                clock.Received(step.Bytes);
                break;
            case Connecting:
                clock.Connecting(step.At);
                break;
            case Check:
                EXPECT_EQ(clock.Overdue(step.At), step.Bytes != 0) << c.Name << " at " << step.At;
                break;
            }
        }
    }
}

TEST(InternetRules, WhereARedirectLeads) {
    struct TCase {
        std::string Location;
        std::string Target;
        bool Secure;
    };
    // From https://host:8443/a/b/file.dll?x=1
    const TCase cases[] = {
        {"https://other/f", "https://other/f", true},
        {"HTTPS://other/f", "HTTPS://other/f", true},
        {"http://other/f", "http://other/f", false},
        {"HTTP://other/f", "HTTP://other/f", false},
        {"ftp://other/f", "ftp://other/f", false},
        {"//other/f", "https://other/f", true},
        {"/c/d", "https://host:8443/c/d", true},
        {"next.dll", "https://host:8443/a/b/next.dll", true},
        {"../up.dll", "https://host:8443/a/b/../up.dll", true},
        // A "://" further on is no scheme.
        {"/go?to=http://other/", "https://host:8443/go?to=http://other/", true},
        {"", "https://host:8443/a/b/", true},
    };
    for (const TCase& c : cases) {
        const std::string target = RedirectTarget("host:8443", "/a/b/file.dll?x=1", c.Location);
        EXPECT_EQ(target, c.Target) << c.Location;
        EXPECT_EQ(IsSecureURL(target), c.Secure) << c.Location;
    }
    EXPECT_FALSE(IsSecureURL("https:/x"));
    EXPECT_FALSE(IsSecureURL("http"));
}

TEST(InternetRules, ProgressPercentages) {
    struct TCase {
        int64_t Current, Total;
        int Percentage;
    };
    const TCase cases[] = {
        {0, 1000, 0},
        {333, 1000, 33},
        {666, 1000, 67},
        {994, 1000, 99},
        {1000, 1000, 100},
        {1200, 1000, 100}, // more than announced: never over 100
        {0, 0, 0},
        {4096, 0, 0},
        {10, -1, 0}, // no length announced
        {INT64_MAX / 2, INT64_MAX, 50},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ProgressPercentage(c.Current, c.Total), c.Percentage)
            << c.Current << " of " << c.Total;
}

TEST(InternetRules, StringListsAsText) {
    const std::vector<std::pair<std::string, TStringList>> loads = {
        {"", {}},
        {"a\r\nb\nc\rd", {L"a", L"b", L"c", L"d"}},
        {"a\r\n", {L"a"}},
        {"a\n\nb\r\n\r\n", {L"a", L"", L"b", L""}},
        {"\xEF\xBB\xBF\xC3\xA4rger", {L"\u00E4rger"}},
    };
    for (const auto& [text, lines] : loads)
        EXPECT_EQ(TextToLines(text), lines) << text;

    EXPECT_EQ(LinesToText({L"X-Echo: hi", L""}), "X-Echo: hi\r\n\r\n");
    EXPECT_EQ(LinesToText({}), "");

    EXPECT_EQ(DelimitedText({L"a=1", L"b=2"}, '&'), "a=1&b=2");
    EXPECT_EQ(DelimitedText({L"x&y", L"q\"r", L"a b"}, '&'), "\"x&y\"&\"q\"\"r\"&a b");
    EXPECT_EQ(DelimitedText({L""}, '&'), "\"\"");
    EXPECT_EQ(DelimitedText({L"", L""}, '&'), "&");
    EXPECT_EQ(DelimitedText({}, '&'), "");
}

TEST(MemoryStream, WritesAtItsPosition) {
    TMemoryStream stream;
    stream.WriteBuffer("abcdef", 6);
    stream.SetPosition(2);
    stream.Expect(1000);
    stream.WriteBuffer("XY", 2);
    EXPECT_EQ(stream.Bytes(), "abXYef");
    EXPECT_EQ(stream.Position(), 4);
    stream.SetPosition(8);
    stream.WriteBuffer("Z", 1);
    EXPECT_EQ(stream.Bytes(), std::string("abXYef\0\0Z", 9));
    EXPECT_EQ(stream.Size(), 9);
    // An absurd length is no reason to fail.
    stream.Expect(INT64_MAX);
    stream.Clear();
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(stream.Position(), 0);
}

TEST(MemoryStream, APromiseOfManyBytesHoldsOnlyWhatCame) {
    TMemoryStream promised;
    promised.Expect(int64_t{200} << 20);
    promised.WriteBuffer("0123456789", 10);
    EXPECT_LE(promised.Bytes().capacity(), size_t{1} << 20);
    // A body as long as announced is held in room of just that size.
    TMemoryStream exact;
    exact.Expect(300000);
    const std::string piece(1000, 'x');
    for (int i = 0; i < 300; ++i)
        exact.WriteBuffer(piece.data(), piece.size());
    EXPECT_EQ(exact.Size(), 300000);
    EXPECT_EQ(exact.Bytes().capacity(), 300000u);
    // Beyond the promise the writes still succeed.
    exact.WriteBuffer("tail", 4);
    EXPECT_EQ(exact.Bytes().substr(300000), "tail");
}

} // namespace
