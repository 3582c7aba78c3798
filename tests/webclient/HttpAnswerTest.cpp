// The rules that tell a whole HTTP answer from one still coming or broken,
// on the bytes alone.
#include <gtest/gtest.h>

#include <string>

#include "webclient/HttpAnswer.h"

namespace {

struct TCase {
    const char* Name;
    std::string Received;
    THttpAnswerState State; // once the server has closed the connection
    uint32_t Status;
    std::string Body;
};

const std::string Chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

const TCase Cases[] = {
    {"length", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", hasComplete, 200, "ok"},
    {"length with more behind", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokHTTP/1.1 500 X\r\n",
     hasComplete, 200, "ok"},
    {"length zero", "HTTP/1.0 404 Not Found\r\ncontent-length:0\r\n\r\n", hasComplete, 404, ""},
    {"until the close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nabc", hasComplete, 200, "abc"},
    {"no reason text", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", hasComplete, 200, "x"},
    {"bare line ends", "HTTP/1.1 200 OK\nContent-Length: 1\n\nx", hasComplete, 200, "x"},
    {"no body for 204", "HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n", hasComplete, 204,
     ""},
    {"interim answer first",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", hasComplete, 200,
     "x"},
    {"chunked", Chunked + "5\r\nhello\r\n6;x=y\r\n world\r\n0\r\n\r\n", hasComplete, 200,
     "hello world"},
    {"chunked with trailer", Chunked + "1\r\nA\r\n0\r\nX-Sum: 1\r\n\r\n", hasComplete, 200, "A"},
    {"chunked over a length",
     "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n"
     "2\r\nab\r\n0\r\n\r\n",
     hasComplete, 200, "ab"},
    {"chunked cut in a chunk", Chunked + "5\r\nhello\r\n10\r\n worl", hasBroken, 200, "hello worl"},
    {"chunked without last chunk", Chunked + "5\r\nhello\r\n", hasBroken, 200, "hello"},
    {"chunked without trailer end", Chunked + "5\r\nhello\r\n0\r\n", hasBroken, 200, "hello"},
    {"chunk size not hexadecimal", Chunked + "zz\r\nhello\r\n0\r\n\r\n", hasBroken, 200, ""},
    {"chunk size empty", Chunked + "\r\nhello\r\n0\r\n\r\n", hasBroken, 200, ""},
    {"chunk size with junk", Chunked + "5x\r\nhello\r\n0\r\n\r\n", hasBroken, 200, ""},
    {"chunk size beyond 64 bits", Chunked + "10000000000000005\r\nhello\r\n0\r\n\r\n", hasBroken,
     200, ""},
    {"chunk longer than its size", Chunked + "3\r\nhello\r\n0\r\n\r\n", hasBroken, 200, "hel"},
    {"length cut short", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nok", hasBroken, 200, "ok"},
    {"length negative", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nok", hasBroken, 200, ""},
    {"length beyond 64 bits", "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\n",
     hasBroken, 200, ""},
    {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nok",
     hasBroken, 200, ""},
    {"status with letters", "HTTP/1.1 2x0 OK\r\nContent-Length: 2\r\n\r\nok", hasBroken, 0, ""},
    {"status missing", "HTTP/1.1 OK\r\nContent-Length: 2\r\n\r\nok", hasBroken, 0, ""},
    {"status of four digits", "HTTP/1.1 2000 OK\r\nContent-Length: 2\r\n\r\nok", hasBroken, 0, ""},
    {"status below 100", "HTTP/1.1 000 OK\r\nContent-Length: 2\r\n\r\nok", hasBroken, 0, ""},
    {"no status line", "Content-Length: 2\r\n\r\nok", hasBroken, 0, ""},
    {"not HTTP", "SSH-2.0-OpenSSH\r\n", hasBroken, 0, ""},
    {"header without a name", "HTTP/1.1 200 OK\r\nno colon here\r\n\r\n", hasBroken, 200, ""},
    {"head cut short", "HTTP/1.1 200 OK\r\nContent-Len", hasBroken, 200, ""},
    {"nothing", "", hasBroken, 0, ""},
};

TEST(HttpAnswer, WholeOrBrokenOnceTheConnectionEnds) {
    for (const TCase& c : Cases) {
        const THttpAnswer answer = ReadHttpAnswer(c.Received, true);
        EXPECT_EQ(answer.State, c.State) << c.Name;
        EXPECT_EQ(answer.StatusCode, c.Status) << c.Name;
        EXPECT_EQ(answer.Body, c.Body) << c.Name;
    }
}

// While the connection is open, every part of an answer is still coming until
// its framing shows it whole or broken as it is in the end; and the size
// before which reading again tells nothing new is never past a whole answer.
TEST(HttpAnswer, StillComingUntilWholeWhileTheConnectionIsOpen) {
    for (const TCase& c : Cases) {
        const THttpAnswer whole = ReadHttpAnswer(c.Received, false);
        for (size_t size = 0; size < c.Received.size(); ++size) {
            const THttpAnswer part = ReadHttpAnswer(c.Received.substr(0, size), false);
            if (part.State != hasIncomplete) {
                // Whole early only with bytes behind the answer; broken only where it is.
                EXPECT_EQ(part.State, c.State) << c.Name << " at " << size;
                if (part.State == hasComplete) {
                    EXPECT_EQ(part.Body, c.Body) << c.Name << " at " << size;
                }
                break;
            }
            if (whole.State == hasComplete) {
                EXPECT_LE(part.Needed, c.Received.size()) << c.Name << " at " << size;
            }
            EXPECT_GT(part.Needed, size) << c.Name << " at " << size;
        }
    }
}

} // namespace
