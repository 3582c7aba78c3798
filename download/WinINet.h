// The HTTP and HTTPS download client on the platform's internet API (WinINet,
// its 8-bit entry points): an object owns one internet handle from creation
// to destruction; every transfer is blocking, with a connection and a request
// of its own. DownloadToStream is what the tool calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Handles.h"
#include "InternetRules.h"
#include "MemoryStream.h"
#include "ProxyParameters.h"

// An internet handle (HINTERNET). wininet.h stays out of this header: it
// cannot be included together with winhttp.h, which users of the client may need.
struct TInternetHandleTraits {
    using pointer = void*;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept;
};
using TInternetHandle = TUniqueHandle<TInternetHandleTraits>;

using TInternetProgress =
    std::function<void(int64_t ACurrentBytes, int64_t ATotalBytes, uint8_t APercentage)>;
using TInternetDebug = std::function<void(const std::string& AText)>;

// The user agent every object opens its internet handle with; set by the
// module's start-up.
extern std::string WinINetUserAgent;
void WinINetStartUp();

// The codes of the client's own failures: a URL without "://", and a server
// that has no such file (status 404).
inline constexpr uint32_t DownloadURLWithoutSchemeCode = 1;
inline constexpr uint32_t DownloadFileNotOnServerCode = 18;

// The longest a transfer waits for the server's next bytes before it fails
// with ERROR_INTERNET_TIMEOUT (12002): Windows' own receive time-out.
inline constexpr uint32_t DownloadSilenceLimitMs = 30000;
// The limit every transfer applies; tests shorten it.
extern uint32_t WinINetSilenceLimitMs;

class TtxInternet {
public:
    // Opens the internet handle: the system's own settings without AProxy or
    // when it imports them, else the named proxy when it uses one, else a
    // direct connection. Never fails: a handle that did not open keeps the
    // error in ErrorCode and makes every transfer fail at its first call.
    explicit TtxInternet(const TProxyParameters* AProxy = nullptr);
    TtxInternet(const TtxInternet&) = delete;
    TtxInternet& operator=(const TtxInternet&) = delete;
    virtual ~TtxInternet();

    uint32_t ErrorCode() const { return FErrorCode; }
    int64_t CurrentBytes() const { return FCurrentBytes; }
    // The length the server announced for the current transfer, 0 without one.
    int64_t TotalBytes() const { return FTotalBytes; }
    // Changing it does not change the handle already open.
    const std::string& UserAgent() const { return FUserAgent; }
    void SetUserAgent(std::string AValue) { FUserAgent = std::move(AValue); }
    const TInternetProgress& OnProgress() const { return FOnProgress; }
    void SetOnProgress(TInternetProgress AValue) { FOnProgress = std::move(AValue); }
    const TInternetDebug& OnDebug() const { return FOnDebug; }
    void SetOnDebug(TInternetDebug AValue) { FOnDebug = std::move(AValue); }

protected:
    void* InternetHandle() const { return FInternetHandle.get(); }
    // To OnProgress, when assigned: the bytes so far, the announced length
    // and the percentage.
    void NotifyProgress();
    // To the debug log, then to OnDebug when assigned.
    void NotifyDebug(const std::string& AText);

    uint32_t FErrorCode = 0;
    int64_t FCurrentBytes = 0;
    int64_t FTotalBytes = 0;

private:
    std::string FUserAgent;
    TInternetHandle FInternetHandle;
    TInternetProgress FOnProgress;
    TInternetDebug FOnDebug;
};

class TtxInternetHTTP : public TtxInternet {
public:
    explicit TtxInternetHTTP(const TProxyParameters* AProxy = nullptr);

    // Bytes asked of each read.
    int32_t BlockSize() const { return FBlockSize; }
    void SetBlockSize(int32_t AValue) { FBlockSize = AValue; }
    // The status of the last request that got as far as reading it; 0 when
    // reading it failed.
    uint16_t StatusCode() const { return FStatusCode; }
    // The port used when a server text names none, and whether requests go
    // over TLS; both change only through the URL forms.
    uint32_t Port() const { return FPort; }
    bool SSL() const { return bSSL; }

    // The core transfer: GET APath from AServer ("host" or "host:port") into
    // AStream at its position. True when the body was received whole: with
    // any status but 404 (StatusCode tells which), the body is then in the
    // stream and its position is 0. A read that fails on the way, a body
    // that ends short of its announced length, a length that is no plain
    // number (12152) or a server silent for longer than the silence limit
    // (12002) fails the transfer. An answer without a real head (a status
    // line and header fields) has StatusCode 0. Over TLS, redirects are
    // followed only to https addresses: one to any other scheme fails with
    // 12040, more than ten in a row with 12156.
    bool Download(const std::string& AServer, const std::string& APath, TStream& AStream);
    // The URL forms: "https://" switches to port 443 with TLS, "http://" to
    // port 80 without, another scheme keeps what the object had.
    bool Download(const std::string& AURL, TStream& AStream);
    // The URL in the system's ANSI code page.
    bool Download(const std::wstring& AURL, TStream& AStream);
    // The received bytes as they are, also those of a failed transfer.
    bool Download(const std::string& AURL, std::string& ALine);
    // The received bytes as lines of text.
    bool Download(const std::string& AServer, const std::string& APath, TStringList& AStrings);
    bool Download(const std::string& AURL, TStringList& AStrings);

    // POST AInStream's bytes with AHeaderStream's bytes as additional headers;
    // the answer's body goes to AOutStream. Always plain HTTP, port 80 unless
    // the server text names one. A 401 answer is retried once with the
    // built-in credentials.
    bool Post(const std::string& AServer, const std::string& APath,
              const TMemoryStream& AHeaderStream, const TMemoryStream& AInStream,
              TStream& AOutStream);
    bool Post(const std::string& AURL, const TMemoryStream& AHeaderStream,
              const TMemoryStream& AInStream, TStream& AOutStream);
    // Header lines, each ended by CR LF; the body is the input lines joined
    // by "&"; the answer comes back as lines.
    bool Post(const std::string& AURL, const TStringList& AHeaderStrings,
              const TStringList& AInStrings, TStringList& AOutStrings);

private:
    struct TRequest;
    bool Transfer(const std::string& AServer, uint16_t ADefaultPort, const TRequest& ARequest,
                  TStream& AStream, int ARedirects = 0);
    bool ReadStatus(void* ARequest);
    // Reads the body to its end into AStream; false when the transfer failed.
    bool ReceiveBody(void* ARequest, TStream& AStream);
    bool Failed(const char* ACall);
    // An answer the transfer does not take: fails with AErrorCode, the stream rewound.
    bool Refused(const char* AWhat, uint32_t AErrorCode, TStream& AStream);

    int32_t FBlockSize = 4096;
    uint16_t FStatusCode = 0;
    uint32_t FPort = 80;
    bool bSSL = false;
};

// The user name and password the post operations answer a 401 with: fixed,
// and no secret of anyone's.
inline constexpr const char* PostUserName = "example"; // 7 characters
inline constexpr const char* PostPassword = "none";    // 4 characters

// Downloads AURL into AStream with a client of its own on the system's
// internet settings. True only for a complete body with status 200. False
// with AErrorCode: 1 for a URL without "://", 18 for status 404, another HTTP
// status for any other answer (its body stays in the stream but is no file),
// 12152 for an answer without a readable status or head or with a length that
// is no plain number, 12002 when the server fell silent for longer than the
// silence limit, 12040 for an https address redirected to another scheme,
// else the platform's error of the failed call (12031 when the body ended
// short of its announced length). AProgress, when given, hears of every piece
// of the body on the calling thread.
bool DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream, int32_t& AErrorCode,
                      const TInternetProgress& AProgress = {});

// Words for an error code: the client's own for 18, 12007 and 12029, else
// the code and the system's message for it, or "Unknown error #" and the code.
std::string InternetErrorText(uint32_t AErrorCode);
