#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/automation/LoopbackServer.h"
#include "webclient/WebClient.h"
#include "webclient/WebServerClients.h"

namespace {

TEST(URL, Rendering) {
    TURL plain;
    EXPECT_EQ(plain.ConstructURL(), "http://:80/");

    TLocalWebServiceURL local;
    local.SetPath("inject");
    EXPECT_EQ(local.ConstructURL(), "http://127.0.0.1:80/inject");

    local.SetPath("/inject");
    EXPECT_EQ(local.ConstructURL(), "http://127.0.0.1:80//inject");

    local.SetPort(21323);
    local.SetPath("inject");
    local.SetParameter("a", "x&y=z w");
    EXPECT_EQ(local.ConstructURL(), "http://127.0.0.1:21323/inject?a=x&y=z w");

    local.SetParameterStartChar(';');
    local.SetParameterDelimiterChar(',');
    local.SetParameterValueSeparatorChar(':');
    local.SetParameter("b", "2");
    EXPECT_EQ(local.ConstructURL(), "http://127.0.0.1:21323/inject;a:x&y=z w,b:2");
}

TEST(URL, ParametersKeepOrderAndFirstKeyForm) {
    TURL url;
    EXPECT_EQ(url.FindParameter("a"), -1);
    EXPECT_EQ(url.ConstructParameters(), "");

    EXPECT_EQ(url.SetParameter("a", "1"), 0);
    EXPECT_EQ(url.SetParameter("b", "2"), 1);
    EXPECT_EQ(url.SetParameter("A", "3"), 0);
    EXPECT_EQ(url.ConstructParameters(), "?a=3&b=2");
    EXPECT_EQ(url.FindParameter("B"), 1);

    std::string value = "untouched";
    EXPECT_EQ(url.FindParameter("c", value), -1);
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(url.FindParameter("A", value), 0);
    EXPECT_EQ(value, "3");
}

class Retrieval : public ::testing::Test {
protected:
    TLoopbackServer FServer;

    std::unique_ptr<TLocalWebServiceURL> Url(const std::string& APath) {
        auto url = std::make_unique<TLocalWebServiceURL>();
        url->SetPort(FServer.Port());
        url->SetPath(APath);
        return url;
    }
};

TEST_F(Retrieval, CompletedExchangesGiveStatusAndBody) {
    struct TCase {
        std::string Path;
        uint32_t Status;
        std::string Body;
    };
    const TCase cases[] = {
        {"status/200", 200, "status 200"}, {"status/204", 204, ""},
        {"status/302", 302, "status 302"}, // answered, not followed
        {"status/404", 404, "status 404"}, {"status/500", 500, "status 500"},
    };
    for (const TCase& c : cases) {
        std::string body = "stale";
        uint32_t status = 1;
        EXPECT_TRUE(Url(c.Path)->RetrieveSynapse(body, status)) << c.Path;
        EXPECT_EQ(status, c.Status) << c.Path;
        EXPECT_EQ(body, c.Body) << c.Path;
    }
}

TEST_F(Retrieval, WholeBodyWithAndWithoutLength) {
    std::string body;
    uint32_t status = 0;
    ASSERT_TRUE(Url("bytes/100000")->RetrieveSynapse(body, status));
    EXPECT_EQ(body.size(), 100000u);
    EXPECT_EQ(static_cast<unsigned char>(body[257]), 1);
    ASSERT_TRUE(Url("bytes/70000?nolength")->RetrieveSynapse(body, status));
    EXPECT_EQ(body.size(), 70000u);
}

TEST_F(Retrieval, NothingListeningFails) {
    TLocalWebServiceURL url;
    url.SetPort(1); // nothing listens on port 1
    url.SetPath("inject");
    std::string body = "stale";
    uint32_t status = 7;
    EXPECT_FALSE(url.RetrieveSynapse(body, status));
    EXPECT_EQ(body, "");
    EXPECT_EQ(status, 0u);
}

TEST_F(Retrieval, AServerThatNeverAnswersFailsAfterTheReceiveTimeOut) {
    auto url = Url("hang");
    url->SetReceiveTimeout(500);
    std::string body;
    uint32_t status = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(url->RetrieveSynapse(body, status));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(status, 0u);
}

TEST_F(Retrieval, ABrokenExchangeFails) {
    std::string body;
    uint32_t status = 0;
    EXPECT_FALSE(Url("drop")->RetrieveSynapse(body, status));
    EXPECT_FALSE(Url("truncated/1000/10")->RetrieveSynapse(body, status));
}

// Answers written byte for byte by the loopback server (its RAW_ANSWERS). Only
// a whole answer with a numeric status succeeds, and whatever an answer was,
// the next retrieval finds nothing of it: each has a connection of its own.
TEST_F(Retrieval, OnlyWholeAnswersSucceedAndNoneSpoilsTheNext) {
    struct TCase {
        std::string Name;
        bool Whole;
        uint32_t Status;
        std::string Body;
    };
    const TCase cases[] = {
        {"chunked", true, 200, "hello world"},
        {"stale-behind", true, 200, "ok"}, // a stale answer waits behind it on the connection
        {"chunked-cut", false, 200, ""},
        {"chunked-no-last", false, 200, ""},
        {"chunk-size-bad", false, 200, ""},
        {"chunk-size-huge", false, 200, ""},
        {"chunk-data-long", false, 200, ""},
        {"status-letters", false, 0, ""},
        {"status-missing", false, 0, ""},
        {"no-status-line", false, 0, ""},
        {"length-bad", false, 200, ""},
    };
    for (const TCase& c : cases) {
        std::string body;
        uint32_t status = 7;
        EXPECT_EQ(Url("raw/" + c.Name)->RetrieveSynapse(body, status), c.Whole) << c.Name;
        EXPECT_EQ(status, c.Status) << c.Name;
        if (c.Whole) {
            EXPECT_EQ(body, c.Body) << c.Name;
        }
        EXPECT_TRUE(Url("status/200")->RetrieveSynapse(body, status)) << "after " << c.Name;
        EXPECT_EQ(status, 200u) << "after " << c.Name;
        EXPECT_EQ(body, "status 200") << "after " << c.Name;
    }
}

TEST(URL, APortNoServerCanListenOnReachesNothing) {
    for (const uint32_t port : {0u, 65536u, 65536u + 80u}) {
        TLocalWebServiceURL url;
        url.SetPort(port);
        url.SetPath("inject");
        std::string body;
        uint32_t status = 7;
        EXPECT_FALSE(url.RetrieveSynapse(body, status)) << port;
        EXPECT_EQ(status, 0u) << port;
    }
}

TEST(URL, DefaultPort) {
    EXPECT_EQ(TURL().Port(), 80u);
    EXPECT_EQ(TURL().ReceiveTimeout(), 15000u);
}

} // namespace
