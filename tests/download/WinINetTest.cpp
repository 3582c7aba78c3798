// The download client against the loopback test server, over HTTP and HTTPS
// (the test CA trusted in the test prefix), with the platform's WinINet.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "download/DownloadRunner.h"
#include "download/WinINet.h"
#include "fixtures/fileidentity/TestCA.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"
#include "tests/automation/LoopbackServer.h"
#include "tests/services/DebugLogCapture.h"
#include "tests/support/SilenceLimit.h"
#include "tests/support/TestFiles.h"
#include "webclient/WebServerClients.h"

namespace {

// The server's body for /bytes/<n>.
std::string Pattern(size_t ACount) {
    std::string bytes(ACount, '\0');
    for (size_t i = 0; i < ACount; ++i)
        bytes[i] = static_cast<char>(i % 256);
    return bytes;
}

// A port nothing listens on: one the system just handed out and took back.
uint16_t UnusedPort() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    ::closesocket(s);
    return ntohs(address.sin_port);
}

TEST(WinINetModule, StartUpSetsTheUserAgentBetweenItsTraceLines) {
    TDebugLogCapture capture;
    WinINetUserAgent.clear();
    WinINetStartUp();
    EXPECT_EQ(WinINetUserAgent, "vxnWinAPIWinINet");
    ASSERT_EQ(capture.Lines().size(), 2u);
    for (const std::wstring& line : capture.Lines())
        EXPECT_NE(line.find(L"vxnWinAPIWinINet"), std::wstring::npos) << WideToUtf8(line);
    EXPECT_EQ(TtxInternetHTTP().UserAgent(), "vxnWinAPIWinINet");
}

class Download : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WinINetStartUp();
        ASSERT_TRUE(TrustTestCA(ProgramFolder() + L"testca\\ca.cer"));
    }

    void SetUp() override {
        FFolder = MakeTestFolder(L"download-" + std::to_wstring(::GetCurrentProcessId()));
        FLogFile = FFolder + L"requests.log";
        TLoopbackServerOptions options;
        options.Log = FLogFile;
        FServer = std::make_unique<TLoopbackServer>(options);
    }
    // The transfers left behind in the platform return once the server has
    // closed their connections (generously bounded), and end before the program does.
    void TearDown() override {
        FServer.reset();
        EXPECT_EQ(JoinDownloadsLeftBehind(20000), 0u);
    }

    std::string Url(const std::string& APath) const {
        return "http://127.0.0.1:" + std::to_string(FServer->Port()) + APath;
    }
    std::string Log() const { return ReadWholeFile(FLogFile); }

    std::wstring FFolder;
    std::wstring FLogFile;
    std::unique_ptr<TLoopbackServer> FServer;
};

TEST_F(Download, WholeBodiesWithAndWithoutLength) {
    for (const std::string path : {"/bytes/5000", "/bytes/5000?nolength", "/bytes/0"}) {
        const std::string expected = Pattern(path == "/bytes/0" ? 0 : 5000);
        TtxInternetHTTP client;
        TMemoryStream stream;
        EXPECT_TRUE(client.Download(Url(path), stream)) << path;
        EXPECT_EQ(stream.Bytes(), expected) << path;
        EXPECT_EQ(stream.Position(), 0) << path;
        EXPECT_EQ(client.StatusCode(), 200) << path;
        EXPECT_EQ(client.ErrorCode(), 0u) << path;
        EXPECT_EQ(client.CurrentBytes(), static_cast<int64_t>(expected.size())) << path;
        EXPECT_EQ(client.TotalBytes(),
                  path.find("nolength") == std::string::npos ? expected.size() : 0)
            << path;

        TMemoryStream downloaded;
        int32_t code = -1;
        EXPECT_TRUE(DownloadToStream(AnsiToWide(Url(path)), downloaded, code)) << path;
        EXPECT_EQ(code, 0) << path;
        EXPECT_EQ(downloaded.Bytes(), expected) << path;
    }
    // Every request reaches the server (no cache), with the module's user agent.
    const std::string log = Log();
    EXPECT_NE(log.find("User-Agent: vxnWinAPIWinINet\n"), std::string::npos) << log;
    size_t requests = 0;
    for (size_t at = log.find("GET /bytes/"); at != std::string::npos;
         at = log.find("GET /bytes/", at + 1))
        ++requests;
    EXPECT_EQ(requests, 6u);
}

// What a failed or unwelcome answer leaves: the client's own result and
// code, and what DownloadToStream, the tool's routine, makes of it.
TEST_F(Download, AnswersThatAreNoFile) {
    struct TCase {
        std::string Path;
        bool ClientResult;
        uint32_t ClientCode;
        uint16_t Status;
        int32_t DownloadCode;
    };
    const TCase cases[] = {
        {"/status/404", false, 18, 404, 18},
        // The client takes any other status; only the tool's routine refuses it.
        {"/status/500", true, 0, 500, 500},
        {"/status/403", true, 0, 403, 403},
        // A body that ends short of its length is no body.
        {"/truncated/10000/4000", false, ERROR_INTERNET_CONNECTION_RESET, 200,
         ERROR_INTERNET_CONNECTION_RESET},
    };
    for (const TCase& c : cases) {
        TtxInternetHTTP client;
        TMemoryStream stream;
        stream.WriteBuffer("xy", 2);
        EXPECT_EQ(client.Download(Url(c.Path), stream), c.ClientResult) << c.Path;
        EXPECT_EQ(client.ErrorCode(), c.ClientCode) << c.Path;
        EXPECT_EQ(client.StatusCode(), c.Status) << c.Path;
        // A 404 leaves the stream where it was; everything else rewinds it.
        EXPECT_EQ(stream.Position(), c.Status == 404 ? 2 : 0) << c.Path;
        if (c.Status == 500) {
            EXPECT_EQ(stream.Bytes(), "xystatus 500");
        }

        TMemoryStream downloaded;
        int32_t code = 0;
        EXPECT_FALSE(DownloadToStream(AnsiToWide(Url(c.Path)), downloaded, code)) << c.Path;
        EXPECT_EQ(code, c.DownloadCode) << c.Path;
    }
}

TEST_F(Download, BrokenConnectionsFail) {
    // Reset in the middle of the body: the read fails, and its error is the code.
    TtxInternetHTTP client;
    TMemoryStream stream;
    EXPECT_FALSE(client.Download(Url("/reset/200000/50000"), stream));
    EXPECT_NE(client.ErrorCode(), 0u);
    EXPECT_LT(client.CurrentBytes(), 200000);
    int32_t code = 0;
    TMemoryStream downloaded;
    EXPECT_FALSE(DownloadToStream(AnsiToWide(Url("/reset/200000/50000")), downloaded, code));
    EXPECT_NE(code, 0);

    // Closed without an answer: no status to read.
    EXPECT_FALSE(DownloadToStream(AnsiToWide(Url("/drop")), downloaded, code));
    EXPECT_NE(code, 0);
    EXPECT_NE(code, 200);
}

// Answers that break HTTP's framing: none passes for a whole body.
TEST_F(Download, AnswersThatBreakTheFraming) {
    struct TCase {
        std::string Path;
        int32_t Code;
    };
    const TCase cases[] = {
        // The head ends without a field, or never was one: the platform
        // makes up a "200 OK" for both.
        {"/hostile/status-then-close", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/hostile/no-status-line", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        // A length that is no plain number within 64 bits leaves the end unknown.
        {"/hostile/length/-1/400", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/hostile/length/99999999999999999999/400", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/hostile/length/+400/400", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        // Leading zeros are plain digits; the body is short of that length.
        {"/hostile/length/" + std::string(40, '0') + "1000/400", ERROR_INTERNET_CONNECTION_RESET},
    };
    for (const TCase& c : cases) {
        TMemoryStream stream;
        int32_t code = 0;
        EXPECT_FALSE(DownloadToStream(AnsiToWide(Url(c.Path)), stream, code)) << c.Path;
        EXPECT_EQ(code, c.Code) << c.Path;
    }
    // A length of 40 digits or more is read whole, not cut at a buffer's end.
    TMemoryStream stream;
    int32_t code = -1;
    EXPECT_TRUE(DownloadToStream(
        AnsiToWide(Url("/hostile/length/" + std::string(40, '0') + "1000/1000")), stream, code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(stream.Bytes(), Pattern(1000));
}

TEST_F(Download, ASilentServerEndsTheTransfer) {
    const TSilenceLimit limit(1500);
    // Silent before the head, after the head, after part of the body.
    for (const std::string path : {"/hang", "/hostile/silent/0", "/hostile/silent/100"}) {
        TtxInternetHTTP client;
        TMemoryStream stream;
        EXPECT_FALSE(client.Download(Url(path), stream)) << path;
        EXPECT_EQ(client.ErrorCode(), static_cast<uint32_t>(ERROR_INTERNET_TIMEOUT)) << path;
    }
}

// Seconds since AStart.
double SecondsSince(std::chrono::steady_clock::time_point AStart) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - AStart).count();
}

// A byte every 200 ms: counted as it comes, yet below the low-speed limit.
// Cancelled, or over its bound, the transfer is ended within the grace, and
// nothing of it reaches the caller's stream.
TEST_F(Download, ATrickleIsCountedAsItComesAndEndsAtItsBoundOrWhenCancelled) {
    TDownloadLimits limits;
    limits.LowSpeedWindowMs = 2000;
    limits.AbandonGraceMs = 1000;
    const TDownloadLimitsForTest shortened(limits);
    for (const bool cancelled : {false, true}) {
        TMemoryStream stream;
        int32_t code = 0;
        int64_t seen = 0, total = 0;
        bool cancel = false;
        TDownloadWait wait;
        wait.OnWaiting = [&](int64_t AReceived, int64_t ATotal) {
            seen = std::max(seen, AReceived);
            total = ATotal;
            cancel = cancelled && AReceived >= 3;
        };
        wait.Cancel = &cancel;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(DownloadToStream(AnsiToWide(Url("/hostile/trickle/200")), stream, code, wait));
        const double took = SecondsSince(start);
        EXPECT_EQ(code, cancelled ? 12017 : ERROR_INTERNET_TIMEOUT);
        EXPECT_GE(seen, 3);
        EXPECT_EQ(total, 1000);
        EXPECT_EQ(stream.Size(), 0);
        EXPECT_LT(took, (cancelled ? 2.0 : 4.0) + 2 * limits.AbandonGraceMs / 1000.0);
    }
}

TEST_F(Download, ABodyBeyondTheLimitIsRefused) {
    TDownloadLimits limits;
    limits.BodyBytes = 10000;
    const TDownloadLimitsForTest shortened(limits);
    struct TCase {
        std::string Path;
        int32_t Code;
    };
    const TCase cases[] = {
        {"/bytes/10000", 0},
        {"/bytes/10000?nolength", 0},
        {"/bytes/10001", DownloadBodyTooLargeCode},
        {"/bytes/20000?nolength", DownloadBodyTooLargeCode},
    };
    for (const TCase& c : cases) {
        TMemoryStream stream;
        int32_t code = -1;
        EXPECT_EQ(DownloadToStream(AnsiToWide(Url(c.Path)), stream, code), c.Code == 0) << c.Path;
        EXPECT_EQ(code, c.Code) << c.Path;
        EXPECT_LE(stream.Bytes().capacity(), 10000u) << c.Path;
    }
}

TEST_F(Download, NoServerToTalkTo) {
    struct TCase {
        std::string URL;
        int32_t Code;
        std::string Text;
    };
    const TCase cases[] = {
        {"http://nonexistent.invalid/file", 12007, "Could not find server!"},
        {"http://127.0.0.1:" + std::to_string(UnusedPort()) + "/file", 12029,
         "Could not connect to server!"},
        {"127.0.0.1/file", 1, ""}, // no "://": nothing is sent
    };
    TDebugLogCapture capture;
    for (const TCase& c : cases) {
        TMemoryStream stream;
        int32_t code = 0;
        EXPECT_FALSE(DownloadToStream(AnsiToWide(c.URL), stream, code)) << c.URL;
        EXPECT_EQ(code, c.Code) << c.URL;
        if (c.Code != 1) {
            EXPECT_EQ(InternetErrorText(static_cast<uint32_t>(code)), c.Text);
        }
    }
    EXPECT_EQ(Log().find("/file"), std::string::npos);
    // The failed calls are in the debug log; the URL without "://" made none.
    const std::vector<TLoggedError> errors = {
        {L"TtxInternetHTTP.Transfer.HttpSendRequestA", 12007},
        {L"TtxInternetHTTP.Transfer.HttpSendRequestA", 12029}};
    EXPECT_EQ(capture.Errors(), errors);
    EXPECT_EQ(InternetErrorText(18), "File not found on server!");
    EXPECT_EQ(InternetErrorText(0x7FFFFFFF), "Unknown error #2147483647");
    EXPECT_EQ(InternetErrorText(5).rfind("5: ", 0), 0u);
    EXPECT_GT(InternetErrorText(5).size(), 3u);
}

TEST_F(Download, ProgressAndDebugNotifications) {
    using TNotification = std::tuple<int64_t, int64_t, int>;
    for (const bool withLength : {true, false}) {
        TtxInternetHTTP client;
        client.SetBlockSize(333);
        std::vector<TNotification> progress;
        std::vector<std::string> debug;
        client.SetOnProgress([&](int64_t ACurrent, int64_t ATotal, uint8_t APercentage) {
            progress.emplace_back(ACurrent, ATotal, APercentage);
        });
        client.SetOnDebug([&](const std::string& AText) { debug.push_back(AText); });
        TDebugLogCapture capture;
        TMemoryStream stream;
        ASSERT_TRUE(
            client.Download(Url(withLength ? "/bytes/1000" : "/bytes/1000?nolength"), stream));
        ASSERT_GE(progress.size(), 4u);
        const int64_t total = withLength ? 1000 : 0;
        if (withLength) {
            EXPECT_EQ(progress[0], TNotification(333, 1000, 33));
        }
        for (const TNotification& n : progress) {
            EXPECT_LE(std::get<2>(n), withLength ? 100 : 0);
            EXPECT_EQ(std::get<1>(n), total);
        }
        // The end is reported three times: the empty last read, then twice more.
        const TNotification end(1000, total, withLength ? 100 : 0);
        EXPECT_EQ(std::vector<TNotification>(progress.end() - 3, progress.end()),
                  std::vector<TNotification>(3, end));
        EXPECT_EQ(debug, std::vector<std::string>{"+ HttpQueryInfo status=200"});
        // The same text went to the debug log first.
        ASSERT_EQ(capture.Lines().size(), 1u);
        EXPECT_NE(capture.Lines()[0].find(L"+ HttpQueryInfo status=200"), std::wstring::npos);
    }
}

TEST_F(Download, ThroughANamedProxy) {
    // The loopback server answers a request in proxy form by its path, so a
    // name nobody can resolve still gets its bytes through the proxy.
    TProxyParameters proxy;
    proxy.SetUseProxy(true);
    proxy.ProxyServer = "127.0.0.1";
    proxy.ProxyPort = FServer->Port();
    TtxInternetHTTP viaProxy(&proxy);
    TMemoryStream stream;
    EXPECT_TRUE(viaProxy.Download(std::string("http://nonexistent.invalid/bytes/10"), stream));
    EXPECT_EQ(stream.Bytes(), Pattern(10));
    const std::string log = Log();
    const size_t request = log.find("GET http://nonexistent.invalid");
    ASSERT_NE(request, std::string::npos) << log;
    EXPECT_EQ(log.find("/bytes/10\n", request), log.find('\n', request) - 9) << log;

    // Without the proxy flag the connection is direct, and the name fails.
    proxy.SetUseProxy(false);
    TtxInternetHTTP direct(&proxy);
    EXPECT_FALSE(direct.Download(std::string("http://nonexistent.invalid/bytes/10"), stream));
    EXPECT_EQ(direct.ErrorCode(), 12007u);
}

TEST_F(Download, TextForms) {
    TtxInternetHTTP client;
    std::string line;
    EXPECT_TRUE(client.Download(Url("/status/500"), line));
    EXPECT_EQ(line, "status 500");

    TStringList lines;
    EXPECT_TRUE(
        client.Download("127.0.0.1:" + std::to_string(FServer->Port()), "/status/200", lines));
    EXPECT_EQ(lines, TStringList{L"status 200"});
    // A 404's body is not read.
    EXPECT_FALSE(client.Download(Url("/status/404"), lines));
    EXPECT_EQ(lines, TStringList{});

    // TURL's second retrieval: the body and status of any answer.
    TURL url;
    url.SetHost("127.0.0.1");
    url.SetPort(FServer->Port());
    url.SetPath("status/500");
    std::string body;
    uint32_t status = 0;
    EXPECT_TRUE(url.Retrieve(body, status));
    EXPECT_EQ(body, "status 500");
    EXPECT_EQ(status, 500u);
    url.SetPath("status/404");
    EXPECT_FALSE(url.Retrieve(body, status));
    EXPECT_EQ(status, 404u);
}

TEST_F(Download, PostsWithHeadersAndTheBuiltInCredentials) {
    TtxInternetHTTP client;
    TMemoryStream headers, body, answer;
    headers.WriteBuffer("X-Echo: hi\r\n", 12);
    body.WriteBuffer("a=1", 3);
    // Posts are plain HTTP whatever the scheme says.
    const std::string server = "127.0.0.1:" + std::to_string(FServer->Port());
    EXPECT_TRUE(client.Post("https://" + server + "/echo", headers, body, answer));
    EXPECT_EQ(answer.Bytes(), "hi|a=1");

    TStringList out;
    EXPECT_TRUE(client.Post("http://" + server + "/auth", TStringList{L"X-Echo: lines"},
                            TStringList{L"a=1", L"b=x&y"}, out));
    EXPECT_EQ(out, TStringList{L"lines|a=1&\"b=x&y\""});
    EXPECT_EQ(client.StatusCode(), 200);
    // Asked for credentials, the post was sent again with the built-in ones.
    const std::string log = Log();
    const size_t first = log.find("POST /auth");
    const size_t second = log.find("POST /auth", first + 1);
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_EQ(log.find("Authorization", first), log.find("Authorization", second));
    EXPECT_NE(log.find("Authorization: Basic ZXhhbXBsZTpub25l", second), std::string::npos) << log;
}

class SecureDownload : public Download {
protected:
    void SetUp() override {
        Download::SetUp();
        TLoopbackServerOptions options;
        options.Log = FLogFile;
        options.CertFile = ProgramFolder() + L"testca\\server.pem";
        options.KeyFile = ProgramFolder() + L"testca\\server.key";
        FSecure = std::make_unique<TLoopbackServer>(options);
    }
    void TearDown() override {
        FSecure.reset();
        Download::TearDown();
    }
    std::string SecureServer(const std::string& AHost = "127.0.0.1") const {
        return AHost + ":" + std::to_string(FSecure->Port());
    }
    std::unique_ptr<TLoopbackServer> FSecure;
};

TEST_F(SecureDownload, OverTLSAndBackToPlainOnOneObject) {
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        TMemoryStream stream;
        int32_t code = -1;
        EXPECT_TRUE(DownloadToStream(AnsiToWide("https://" + SecureServer(host) + "/bytes/3000"),
                                     stream, code))
            << host << " " << code;
        EXPECT_EQ(code, 0);
        EXPECT_EQ(stream.Bytes(), Pattern(3000));
    }

    TtxInternetHTTP client;
    TMemoryStream stream;
    // No path: "/" is asked for, over TLS.
    EXPECT_FALSE(client.Download("https://" + SecureServer(), stream));
    EXPECT_EQ(client.ErrorCode(), 18u);
    EXPECT_NE(Log().find("GET /\n"), std::string::npos);
    EXPECT_TRUE(client.SSL());
    EXPECT_EQ(client.Port(), 443u);
    // Another scheme keeps TLS: only the secure server can answer it.
    EXPECT_TRUE(client.Download("ftp://" + SecureServer() + "/bytes/10", stream));
    // After https, http goes without TLS.
    EXPECT_TRUE(client.Download(Url("/bytes/10"), stream));
    EXPECT_FALSE(client.SSL());
    EXPECT_EQ(client.Port(), 80u);
    EXPECT_EQ(stream.Bytes(), Pattern(10));
    // A new object goes plain for another scheme.
    TtxInternetHTTP fresh;
    EXPECT_TRUE(
        fresh.Download("ftp://127.0.0.1:" + std::to_string(FServer->Port()) + "/bytes/10", stream));
    EXPECT_FALSE(fresh.SSL());
    EXPECT_EQ(fresh.Port(), 80u);
}

TEST_F(SecureDownload, RedirectsStayOnTLS) {
    // To plain HTTP: refused before anything is asked over it.
    TLoopbackServerOptions options;
    options.Log = FFolder + L"plain.log";
    const TLoopbackServer plain(options);
    const std::string toPlain = "https://" + SecureServer() + "/hostile/redirect/" +
                                std::to_string(plain.Port()) + "/bytes/3000";
    TMemoryStream stream;
    int32_t code = 0;
    EXPECT_FALSE(DownloadToStream(AnsiToWide(toPlain), stream, code));
    EXPECT_EQ(code, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(ReadWholeFile(FFolder + L"plain.log").find("/bytes/3000"), std::string::npos);

    // Within TLS redirects are followed: /status/302 sends to /status/200.
    TtxInternetHTTP client;
    std::string body;
    EXPECT_TRUE(client.Download("https://" + SecureServer() + "/status/302", body));
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(body, "status 200");
    EXPECT_TRUE(client.SSL());
}

TEST_F(SecureDownload, ASilentServerEndsTheTransfer) {
    const TSilenceLimit limit(1500);
    for (const std::string path : {"/hang", "/hostile/silent/100"}) {
        TMemoryStream stream;
        int32_t code = 0;
        EXPECT_FALSE(DownloadToStream(AnsiToWide("https://" + SecureServer() + path), stream, code))
            << path;
        EXPECT_EQ(code, ERROR_INTERNET_TIMEOUT) << path;
    }
}

TEST_F(SecureDownload, CutShortOverTLS) {
    TMemoryStream stream;
    int32_t code = 0;
    EXPECT_FALSE(DownloadToStream(AnsiToWide("https://" + SecureServer() + "/truncated/10000/4000"),
                                  stream, code));
    EXPECT_EQ(code, ERROR_INTERNET_CONNECTION_RESET);
    EXPECT_FALSE(
        DownloadToStream(AnsiToWide("https://" + SecureServer() + "/status/500"), stream, code));
    EXPECT_EQ(code, 500);
}

} // namespace
