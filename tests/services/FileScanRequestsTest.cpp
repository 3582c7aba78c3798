// The file-scan service fixture's request rules.
#include <gtest/gtest.h>

#include <string>

#include "fixtures/QVFSSvc/FileScanRequests.h"

namespace {

struct TRouteCase {
    const char* Head;
    TFileScanCommand Command;
};

TEST(FileScanRequests, OnlyGetOfTheThreePathsNamesACommand) {
    const TRouteCase cases[] = {
        {"GET /lpactivate HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", fcLPActivate},
        {"GET /inject HTTP/1.0\r\n\r\n", fcInject},
        {"GET /uninject HTTP/1.1\r\n\r\n", fcUninject},
        {"GET /inject?pid=12 HTTP/1.1\r\n\r\n", fcInject},
        {"GET / HTTP/1.1\r\n\r\n", fcNone},
        {"GET /injectx HTTP/1.1\r\n\r\n", fcNone},
        {"GET /Inject HTTP/1.1\r\n\r\n", fcNone},
        {"GET /inject/ HTTP/1.1\r\n\r\n", fcNone},
        {"GET inject HTTP/1.1\r\n\r\n", fcNone},
        {"POST /inject HTTP/1.1\r\n\r\n", fcNone},
        {"get /inject HTTP/1.1\r\n\r\n", fcNone},
        {"HEAD /inject HTTP/1.1\r\n\r\n", fcNone},
        {"GET /inject\r\n\r\n", fcNone},
        {"GET /inject FTP/1.0\r\n\r\n", fcNone},
        {"GET  /inject HTTP/1.1\r\n\r\n", fcNone},
        {"", fcNone},
    };
    for (const TRouteCase& c : cases)
        EXPECT_EQ(RequestedCommand(c.Head), c.Command) << c.Head;
}

TEST(FileScanRequests, AHeadIsCompleteAtItsEmptyLine) {
    EXPECT_FALSE(IsCompleteHead("GET /inject HTTP/1.1\r\n"));
    EXPECT_FALSE(IsCompleteHead("GET /inject HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_TRUE(IsCompleteHead("GET /inject HTTP/1.1\r\n\r\n"));
}

TEST(FileScanRequests, ResponsesCarryStatusLengthAndClose) {
    EXPECT_EQ(HttpResponse(200), "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                 "Content-Length: 4\r\nConnection: close\r\n\r\nOK\r\n");
    EXPECT_EQ(HttpResponse(404).substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
    EXPECT_EQ(HttpResponse(500).substr(0, 36), "HTTP/1.1 500 Internal Server Error\r\n");
}

} // namespace
