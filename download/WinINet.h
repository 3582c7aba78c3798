// The HTTP and HTTPS download client on the platform's internet API (WinINet,
// its 8-bit entry points): an object owns one internet handle from creation
// to destruction; every transfer is blocking, with a connection and a request
// of its own. The tool calls it through download/DownloadRunner.h, which runs
// each transfer on a thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "download/InternetRules.h"
#include "download/MemoryStream.h"
#include "download/ProxyParameters.h"
#include "platform/Handles.h"

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
void WinINetShutDown();

// The codes of the client's own failures: a URL without "://", and a server
// that has no such file (status 404).
inline constexpr uint32_t DownloadURLWithoutSchemeCode = 1;
inline constexpr uint32_t DownloadFileNotOnServerCode = 18;

// The bounds of every transfer. Each one that is passed fails the transfer
// with ERROR_INTERNET_TIMEOUT (12002); the client keeps them itself, whatever
// the platform's own time-outs do.
// The longest wait for the server's next bytes: Windows' own receive time-out,
// also given to the platform.
inline constexpr uint32_t DownloadSilenceLimitMs = 30000;
// Connecting: Windows gives up on an address that does not answer after about
// 21 s (the first SYN and two retransmissions, 3 + 6 + 12 s); so does the client.
inline constexpr uint32_t DownloadConnectLimitMs = 21000;
// The rest of the head, from the connection on: the TLS handshake, the
// request, the status line and the header fields, however slowly they drip.
inline constexpr uint32_t DownloadHeadLimitMs = 60000;
// The body: at least this many bytes in every window of this many
// milliseconds, as curl's low-speed limit has it.
inline constexpr uint32_t DownloadLowSpeedBytes = 1024;
inline constexpr uint32_t DownloadLowSpeedWindowMs = 60000;
// How long a transfer that ran over its bound, or was cancelled, is given to
// end once its request is closed; a platform call that does not return by
// then is left behind, and nothing it still receives is used.
inline constexpr uint32_t DownloadAbandonGraceMs = 2000;
// The largest body taken, far above any product file: a longer announced
// length, or a body that grows past it, fails with ERROR_FILE_TOO_LARGE before
// it is held in memory.
inline constexpr int64_t DownloadBodyLimitBytes = int64_t{256} << 20;
inline constexpr uint32_t DownloadBodyTooLargeCode = 223; // ERROR_FILE_TOO_LARGE
// A download ended by its caller (TDownloadWait::Cancel): ERROR_INTERNET_OPERATION_CANCELLED.
inline constexpr uint32_t DownloadCancelledCode = 12017;

struct TDownloadLimits {
    uint32_t SilenceMs = DownloadSilenceLimitMs;
    uint32_t ConnectMs = DownloadConnectLimitMs;
    uint32_t HeadMs = DownloadHeadLimitMs;
    uint32_t LowSpeedBytes = DownloadLowSpeedBytes;
    uint32_t LowSpeedWindowMs = DownloadLowSpeedWindowMs;
    uint32_t AbandonGraceMs = DownloadAbandonGraceMs;
    int64_t BodyBytes = DownloadBodyLimitBytes;
};
// The limits every transfer applies; tests shorten them.
extern TDownloadLimits DownloadLimits;

// Watches one transfer from another thread (download/TransferWatch.h).
class TTransferWatch;

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

    // Bytes asked of each read at most; a read takes what has arrived.
    int32_t BlockSize() const { return FBlockSize; }
    void SetBlockSize(int32_t AValue) { FBlockSize = AValue; }
    // The status of the last request that got as far as reading it; 0 when
    // reading it failed.
    uint16_t StatusCode() const { return FStatusCode; }
    // The port used when a server text names none, and whether requests go
    // over TLS; both change only through the URL forms.
    uint32_t Port() const { return FPort; }
    bool SSL() const { return bSSL; }
    // A watch that times every transfer's phases and may close its request
    // from another thread; none by default.
    void SetWatch(TTransferWatch* AWatch) { FWatch = AWatch; }

    // The core transfer: GET APath from AServer ("host" or "host:port") into
    // AStream at its position. True when the body was received whole: with
    // any status but 404 (StatusCode tells which), the body is then in the
    // stream and its position is 0. A read that fails on the way, a body
    // that ends short of its announced length, a length that is no plain
    // number or two that disagree (12152), a length or body beyond the body
    // limit (223) or a server silent for longer than the silence limit
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
    // A transfer its watch has ended and left behind says nothing more: the
    // program may be shutting its logger down by the time its call returns.
    bool Abandoned() const;
    void Note(const std::string& AText);
    void Log(const char* ACall, uint32_t AErrorCode);
    // An answer the transfer does not take: fails with AErrorCode, the stream rewound.
    bool Refused(const char* AWhat, uint32_t AErrorCode, TStream& AStream);

    int32_t FBlockSize = 4096;
    TTransferWatch* FWatch = nullptr;
    uint16_t FStatusCode = 0;
    uint32_t FPort = 80;
    bool bSSL = false;
};

// The user name and password the post operations answer a 401 with: fixed,
// and no secret of anyone's.
inline constexpr const char* PostUserName = "example"; // 7 characters
inline constexpr const char* PostPassword = "none";    // 4 characters

// Words for an error code: the client's own for 18, 12007 and 12029, else
// the code and the system's message for it, or "Unknown error #" and the code.
std::string InternetErrorText(uint32_t AErrorCode);
