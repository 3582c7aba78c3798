#include "download/WinINet.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "diagnostics/DebugLogger.h"
#include "diagnostics/FailedCall.h"
#include "download/RequestGuard.h"
#include "platform/WinText.h"

namespace {

// INTERNET_FLAG_RELOAD: never from the cache. INTERNET_FLAG_TRANSFER_ASCII
// means nothing to HTTP; it is part of the flags the server has always seen.
constexpr DWORD RequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII;

std::wstring TransferTag(const char* ACall) {
    return L"TtxInternetHTTP.Transfer." + AnsiToWide(ACall);
}

// Redirects of a secure request are followed here, each checked, up to this many.
constexpr int SecureRedirectLimit = 10;

bool IsRedirect(uint16_t AStatus) {
    return AStatus == HTTP_STATUS_MOVED || AStatus == HTTP_STATUS_REDIRECT ||
           AStatus == HTTP_STATUS_REDIRECT_METHOD || AStatus == HTTP_STATUS_REDIRECT_KEEP_VERB ||
           AStatus == HTTP_STATUS_PERMANENT_REDIRECT;
}

// The platform's error of a call that waited for the server, or the time-out
// when the silence limit ended it: Windows reports ERROR_INTERNET_TIMEOUT
// itself, Wine the socket's WSAETIMEDOUT, or ERROR_INTERNET_CONNECTION_ABORTED
// for a time-out while it waits for the head of the answer or a TLS record.
// A connection that fails only once the connect limit has passed is a
// time-out too, whatever error the platform gives it.
DWORD SilenceOrError(DWORD AError, std::chrono::steady_clock::time_point ACallStart,
                     uint32_t ALimitMs) {
    const auto waited = std::chrono::steady_clock::now() - ACallStart;
    if (AError == ERROR_INTERNET_TIMEOUT || AError == WSAETIMEDOUT ||
        waited >= std::chrono::milliseconds(ALimitMs))
        return ERROR_INTERNET_TIMEOUT;
    return AError;
}

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

} // namespace

std::string WinINetUserAgent;
TDownloadLimits DownloadLimits;

// The phases of one transfer as its thread lives them, and its request, which
// the watching thread ends a transfer that ran over its bound by. Every call on
// the request goes through the guard, which closes it exactly once and never
// while a call is made on it.
class TTransferWatch {
public:
    explicit TTransferWatch(const TDownloadLimits& ALimits)
        : FClock(
              {ALimits.ConnectMs, ALimits.HeadMs, ALimits.LowSpeedBytes, ALimits.LowSpeedWindowMs},
              NowMs()),
          FGuard([](TRequestGuard::THandle ARequest) {
              const TLastErrorKeeper keeper;
              ::InternetCloseHandle(ARequest);
          }) {}

    // The transfer's thread.
    void Connecting() {
        Update([](TTransferClock& AClock) { AClock.Connecting(NowMs()); });
    }
    void Connected() {
        Update([](TTransferClock& AClock) { AClock.Connected(NowMs()); });
    }
    void HeadReceived(int64_t ATotal) {
        FTotal = ATotal;
        Update([](TTransferClock& AClock) { AClock.HeadReceived(NowMs()); });
    }
    void Received(int64_t ABytes) {
        FReceived = ABytes;
        Update([ABytes](TTransferClock& AClock) { AClock.Received(ABytes); });
    }
    void Opened(HINTERNET ARequest) { FGuard.Opened(ARequest); }
    // A call on the request: false, with ERROR_INTERNET_OPERATION_CANCELLED,
    // and not made once the watch has ended the transfer.
    bool Call(const std::function<bool()>& ACall) {
        if (FGuard.Call(ACall))
            return true;
        if (FGuard.Cancelled())
            ::SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
        return false;
    }
    bool Cancelled() const { return FGuard.Cancelled(); }
    // True when the request is still the caller's to close.
    bool Release(HINTERNET ARequest) { return FGuard.Release(ARequest); }

    // The watching thread.
    bool Overdue() {
        const std::lock_guard<std::mutex> lock(FLock);
        return FClock.Overdue(NowMs());
    }
    TTransferPhase Phase() {
        const std::lock_guard<std::mutex> lock(FLock);
        return FClock.Phase();
    }
    // Ends the transfer. Its request is closed now if no call is made on it,
    // else as soon as the call returns: Windows allows a close only while no
    // call is made on the handle. A call that waits for the server returns
    // only when the server sends, or the platform's own time-out (the
    // silence and connect limits, given to it) ends it; the window does not
    // wait for it (DownloadAbandonGraceMs).
    void Cancel() { FGuard.Cancel(); }
    int64_t ReceivedBytes() const { return FReceived; }
    int64_t TotalBytes() const { return FTotal; }

private:
    template <typename TChange> void Update(TChange AChange) {
        const std::lock_guard<std::mutex> lock(FLock);
        AChange(FClock);
    }

    std::mutex FLock;
    TTransferClock FClock;
    TRequestGuard FGuard;
    std::atomic<int64_t> FReceived{0}, FTotal{0};
};

namespace {

// A call on a request, through its watch when it has one: never on a
// request the watch has ended.
bool CallOnRequest(TTransferWatch* AWatch, const std::function<bool()>& ACall) {
    return AWatch ? AWatch->Call(ACall) : ACall();
}

// A header of the answer as text, however long. False with the platform's
// error (ERROR_HTTP_HEADER_NOT_FOUND when the answer has none).
bool QueryHeader(TTransferWatch* AWatch, HINTERNET ARequest, DWORD AInfoLevel, std::string& AText,
                 DWORD& AError) {
    AText.assign(64, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(AText.size());
        if (CallOnRequest(AWatch, [&] {
                return ::HttpQueryInfoA(ARequest, AInfoLevel, AText.data(), &size, nullptr) !=
                       FALSE;
            })) {
            AText.resize(size);
            return true;
        }
        AError = ::GetLastError();
        if (AError != ERROR_INSUFFICIENT_BUFFER)
            return false;
        AText.assign(static_cast<size_t>(size) + 1, '\0');
    }
    return false;
}

// The platform's news of a watched request: the connection stands once it
// connected or sends.
void CALLBACK WatchStatus(HINTERNET, DWORD_PTR AContext, DWORD AStatus, LPVOID, DWORD) {
    switch (AStatus) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_SENDING_REQUEST:
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RECEIVING_RESPONSE:
        if (AContext)
            reinterpret_cast<TTransferWatch*>(AContext)->Connected();
        break;
    default:
        break;
    }
}

// A request handle closed once, by its owner or, while a watch has it, by the
// watch when it ends the transfer from its own thread.
class TRequestHandle {
public:
    TRequestHandle(HINTERNET ARequest, TTransferWatch* AWatch) : FHandle(ARequest), FWatch(AWatch) {
        if (FWatch && FHandle)
            FWatch->Opened(FHandle);
    }
    TRequestHandle(const TRequestHandle&) = delete;
    TRequestHandle& operator=(const TRequestHandle&) = delete;
    ~TRequestHandle() { reset(); }
    HINTERNET get() const { return FHandle; }
    explicit operator bool() const { return FHandle != nullptr; }
    void reset() {
        if (!FHandle)
            return;
        const TLastErrorKeeper keeper;
        if (!FWatch || FWatch->Release(FHandle))
            ::InternetCloseHandle(FHandle);
        FHandle = nullptr;
    }

private:
    HINTERNET FHandle;
    TTransferWatch* FWatch;
};

} // namespace

void WinINetStartUp() {
    TDebugUnitTrace trace(L"vxnWinAPIWinINet", dlsUnitInitialization);
    WinINetUserAgent = "vxnWinAPIWinINet";
}

void WinINetShutDown() {
    TDebugUnitTrace trace(L"vxnWinAPIWinINet", dlsUnitFinalization);
    JoinDownloadsLeftBehind(DownloadLimits.AbandonGraceMs);
}

void TInternetHandleTraits::Close(pointer h) noexcept {
    ::InternetCloseHandle(h);
}

TtxInternet::TtxInternet(const TProxyParameters* AProxy) : FUserAgent(WinINetUserAgent) {
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    if (AProxy && !AProxy->UseIEImported()) {
        if (AProxy->UseProxy()) {
            accessType = INTERNET_OPEN_TYPE_PROXY;
            proxy = AProxy->GetCERNSyntax();
        } else {
            accessType = INTERNET_OPEN_TYPE_DIRECT;
        }
    }
    FInternetHandle.reset(::InternetOpenA(FUserAgent.c_str(), accessType,
                                          proxy.empty() ? nullptr : proxy.c_str(), nullptr, 0));
    if (!FInternetHandle) {
        FErrorCode = ::GetLastError();
        LogFailedCall(TransferTag("InternetOpenA"), FErrorCode);
    }
}

TtxInternet::~TtxInternet() = default;

void TtxInternet::NotifyProgress() {
    if (FOnProgress)
        FOnProgress(FCurrentBytes, FTotalBytes, ProgressPercentage(FCurrentBytes, FTotalBytes));
}

void TtxInternet::NotifyDebug(const std::string& AText) {
    if (TDebugLogger* logger = DebugLogger())
        logger->LogMessage(AText, dlvDefault);
    if (FOnDebug)
        FOnDebug(AText);
}

struct TtxInternetHTTP::TRequest {
    const char* Verb = nullptr; // the platform's default, GET
    std::string Path;
    DWORD Flags = RequestFlags;
    std::string Headers;
    std::string Body;
    bool RetryUnauthorized = false;
};

TtxInternetHTTP::TtxInternetHTTP(const TProxyParameters* AProxy) : TtxInternet(AProxy) {}

bool TtxInternetHTTP::Abandoned() const {
    return FWatch && FWatch->Cancelled();
}

void TtxInternetHTTP::Note(const std::string& AText) {
    if (!Abandoned())
        NotifyDebug(AText);
}

void TtxInternetHTTP::Log(const char* ACall, uint32_t AErrorCode) {
    if (!Abandoned())
        LogFailedCall(TransferTag(ACall), AErrorCode);
}

bool TtxInternetHTTP::Failed(const char* ACall) {
    FErrorCode = ::GetLastError();
    Log(ACall, FErrorCode);
    return false;
}

bool TtxInternetHTTP::Refused(const char* AWhat, uint32_t AErrorCode, TStream& AStream) {
    FErrorCode = AErrorCode;
    Log(AWhat, FErrorCode);
    AStream.SetPosition(0);
    return false;
}

bool TtxInternetHTTP::Transfer(const std::string& AServer, uint16_t ADefaultPort,
                               const TRequest& ARequest, TStream& AStream, int ARedirects) {
    FCurrentBytes = 0;
    FTotalBytes = 0;
    FErrorCode = 0;
    const THostPort target = ServerHostPort(AServer, ADefaultPort);

    TInternetHandle connection(::InternetConnectA(InternetHandle(), target.Host.c_str(),
                                                  target.Port, nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return Failed("InternetConnectA");
    // The context is what the platform hands to the status callback; a
    // context of 0 gets no news.
    TRequestHandle request(::HttpOpenRequestA(connection.get(), ARequest.Verb,
                                              ARequest.Path.c_str(), nullptr, nullptr, nullptr,
                                              ARequest.Flags, reinterpret_cast<DWORD_PTR>(FWatch)),
                           FWatch);
    if (!request)
        return Failed("HttpOpenRequestA");
    const auto onRequest = [&](const std::function<bool()>& ACall) {
        return CallOnRequest(FWatch, ACall);
    };
    const auto setOption = [&](DWORD AOption, void* AValue, DWORD ASize) {
        onRequest(
            [&] { return ::InternetSetOptionA(request.get(), AOption, AValue, ASize) != FALSE; });
    };
    if (FWatch)
        onRequest([&] {
            return ::InternetSetStatusCallbackA(request.get(), WatchStatus) !=
                   INTERNET_INVALID_STATUS_CALLBACK;
        });
    // No wait for the server without a bound: Wine's own default waits for
    // ever. The silence limit holds for each wait for bytes, while the head
    // and while the body arrive; the platform is given the connect limit too.
    DWORD silenceLimit = DownloadLimits.SilenceMs;
    DWORD connectLimit = DownloadLimits.ConnectMs;
    setOption(INTERNET_OPTION_RECEIVE_TIMEOUT, &silenceLimit, sizeof(silenceLimit));
    setOption(INTERNET_OPTION_SEND_TIMEOUT, &silenceLimit, sizeof(silenceLimit));
    setOption(INTERNET_OPTION_CONNECT_TIMEOUT, &connectLimit, sizeof(connectLimit));

    const auto send = [&](const std::string& AHeaders) {
        if (FWatch)
            FWatch->Connecting();
        const auto start = std::chrono::steady_clock::now();
        if (onRequest([&] {
                return ::HttpSendRequestA(
                           request.get(), AHeaders.empty() ? nullptr : AHeaders.c_str(),
                           static_cast<DWORD>(AHeaders.size()),
                           ARequest.Body.empty() ? nullptr
                                                 : const_cast<char*>(ARequest.Body.data()),
                           static_cast<DWORD>(ARequest.Body.size())) != FALSE;
            }))
            return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_INTERNET_OPERATION_CANCELLED)
            ::SetLastError(SilenceOrError(
                error, start, std::min(DownloadLimits.SilenceMs, DownloadLimits.ConnectMs)));
        return false;
    };
    const auto sendFailed = [&] {
        Failed("HttpSendRequestA");
        request.reset();
        connection.reset();
        AStream.SetPosition(0);
        return false;
    };
    if (!send(ARequest.Headers))
        return sendFailed();
    ReadStatus(request.get());
    if (ARequest.RetryUnauthorized && FStatusCode == 401) {
        // The lengths count the terminating zero.
        setOption(INTERNET_OPTION_USERNAME, const_cast<char*>(PostUserName),
                  static_cast<DWORD>(std::char_traits<char>::length(PostUserName) + 1));
        setOption(INTERNET_OPTION_PASSWORD, const_cast<char*>(PostPassword),
                  static_cast<DWORD>(std::char_traits<char>::length(PostPassword) + 1));
        if (!send(std::string()))
            return sendFailed();
        ReadStatus(request.get());
    }
    Note("+ HttpQueryInfo status=" + std::to_string(FStatusCode));
    if (FStatusCode == 404) {
        FErrorCode = DownloadFileNotOnServerCode;
        return false;
    }

    DWORD error = ERROR_SUCCESS;
    std::string location;
    if ((ARequest.Flags & INTERNET_FLAG_NO_AUTO_REDIRECT) && IsRedirect(FStatusCode) &&
        QueryHeader(FWatch, request.get(), HTTP_QUERY_LOCATION, location, error)) {
        // What left over TLS never comes back over plain HTTP: Windows refuses
        // that redirect itself, Wine would follow it.
        const std::string next = RedirectTarget(target.Host + ":" + std::to_string(target.Port),
                                                ARequest.Path, location);
        request.reset();
        connection.reset();
        std::string server, path;
        if (!IsSecureURL(next) || !SplitURL(next, server, path))
            return Refused("Redirect", ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, AStream);
        if (ARedirects >= SecureRedirectLimit)
            return Refused("Redirect", ERROR_HTTP_REDIRECT_FAILED, AStream);
        // A transfer its watch has ended opens nothing more.
        if (Abandoned())
            return Refused("Redirect", ERROR_INTERNET_OPERATION_CANCELLED, AStream);
        TRequest redirected = ARequest;
        redirected.Path = path;
        return Transfer(server, INTERNET_DEFAULT_HTTPS_PORT, redirected, AStream, ARedirects + 1);
    }

    // A length that is there must be one plain number: anything else leaves
    // the end of the body unknown. The platform reads the first of several
    // fields; the raw head has them all.
    std::string head;
    if (!QueryHeader(FWatch, request.get(), HTTP_QUERY_RAW_HEADERS_CRLF, head, error))
        return Refused("HttpQueryInfoA", error, AStream);
    const TAnnouncedLength length = AnnouncedLength(head);
    if (length.Verdict == TLengthVerdict::NotANumber ||
        length.Verdict == TLengthVerdict::Disagreeing) {
        Note("- Content-Length >" + length.Text + "<");
        return Refused("HttpQueryInfoA", ERROR_HTTP_INVALID_SERVER_RESPONSE, AStream);
    }
    FTotalBytes = length.Value;
    if (FTotalBytes > DownloadLimits.BodyBytes) {
        Note("- Content-Length >" + length.Text + "< beyond the body limit");
        return Refused("HttpQueryInfoA", DownloadBodyTooLargeCode, AStream);
    }
    if (FWatch)
        FWatch->HeadReceived(FTotalBytes);
    const bool received = ReceiveBody(request.get(), AStream);
    request.reset();
    connection.reset();
    AStream.SetPosition(0);
    return received;
}

bool TtxInternetHTTP::ReadStatus(void* ARequest) {
    char text[32] = {};
    DWORD size = sizeof(text);
    FStatusCode = 0;
    if (!CallOnRequest(FWatch, [&] {
            return ::HttpQueryInfoA(ARequest, HTTP_QUERY_STATUS_CODE, text, &size, nullptr) !=
                   FALSE;
        })) {
        Note("- HttpQueryInfo (" + InternetErrorText(::GetLastError()) + ")");
        return false;
    }
    const std::string received(text, size);
    const TDecimal status = ParseDecimal(received);
    if (!status.Valid || status.Value < 0 || status.Value > 0xFFFF) {
        // A number too large for a status is spoilt by its last digit.
        const size_t position = status.Valid ? received.size() : status.BadPosition;
        Note("- HttpQueryInfo val error at @" + std::to_string(position) + " of >" + received +
             "<");
        return false;
    }
    // The platform makes up a status for an answer that has none.
    std::string head;
    DWORD error = ERROR_SUCCESS;
    if (!QueryHeader(FWatch, ARequest, HTTP_QUERY_RAW_HEADERS_CRLF, head, error) ||
        !IsAnswerHead(head)) {
        Note("- HttpQueryInfo no answer head >" + head.substr(0, head.find('\r')) + "<");
        return false;
    }
    FStatusCode = static_cast<uint16_t>(status.Value);
    return true;
}

bool TtxInternetHTTP::ReceiveBody(void* ARequest, TStream& AStream) {
    const int64_t limit = DownloadLimits.BodyBytes;
    // What the body may grow to, not what is made room for at once: a length
    // that is announced need not come.
    AStream.Expect(FTotalBytes > 0 ? FTotalBytes : limit);
    const size_t blockSize = FBlockSize > 0 ? static_cast<size_t>(FBlockSize) : 0;
    const std::unique_ptr<char[]> buffer(new char[blockSize + 1]);
    DWORD readError = ERROR_SUCCESS;
    const auto wait = [&](const char* ACall, auto ACallPlatform) {
        const auto start = std::chrono::steady_clock::now();
        if (CallOnRequest(FWatch, ACallPlatform))
            return true;
        readError = ::GetLastError();
        if (readError != ERROR_INTERNET_OPERATION_CANCELLED)
            readError = SilenceOrError(readError, start, DownloadLimits.SilenceMs);
        Log(ACall, readError);
        return false;
    };
    for (;;) {
        // The platform's read waits until the whole block is there, however
        // slowly it comes; asking first what has arrived lets each piece be
        // counted (and its progress seen) as it comes.
        DWORD available = 0;
        if (!wait("InternetQueryDataAvailable", [&] {
                return ::InternetQueryDataAvailable(ARequest, &available, 0, 0) != FALSE;
            }))
            break;
        DWORD read = 0;
        const DWORD asked = static_cast<DWORD>(std::min<size_t>(available, blockSize));
        if (asked > 0 && !wait("InternetReadFile", [&] {
                return ::InternetReadFile(ARequest, buffer.get(), asked, &read) != FALSE;
            }))
            break;
        if (FCurrentBytes + static_cast<int64_t>(read) > limit) {
            readError = DownloadBodyTooLargeCode;
            Log("InternetReadFile", readError);
            break;
        }
        AStream.WriteBuffer(buffer.get(), read);
        FCurrentBytes += read;
        if (FWatch)
            FWatch->Received(FCurrentBytes);
        NotifyProgress();
        if (read == 0)
            break;
    }
    // The final state is reported twice more: a listener that only looks at
    // the last notification sees it, whatever it did with the others.
    NotifyProgress();
    NotifyProgress();

    // A body cut short must never pass for a whole one: it may be written
    // over a file.
    if (readError != ERROR_SUCCESS) {
        FErrorCode = readError;
        return false;
    }
    if (FTotalBytes > 0 && FCurrentBytes < FTotalBytes) {
        FErrorCode = ERROR_INTERNET_CONNECTION_RESET;
        Log("InternetReadFile", FErrorCode);
        return false;
    }
    return true;
}

bool TtxInternetHTTP::Download(const std::string& AServer, const std::string& APath,
                               TStream& AStream) {
    TRequest request;
    request.Path = APath;
    // Redirects of a secure request are followed by Transfer, which checks
    // where each one leads.
    if (bSSL)
        request.Flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    return Transfer(AServer, static_cast<uint16_t>(FPort & 0xFFFF), request, AStream);
}

bool TtxInternetHTTP::Download(const std::string& AURL, TStream& AStream) {
    ApplyURLScheme(AURL, FPort, bSSL);
    std::string server, path;
    if (!SplitURL(AURL, server, path)) {
        FErrorCode = DownloadURLWithoutSchemeCode;
        return false;
    }
    return Download(server, path, AStream);
}

bool TtxInternetHTTP::Download(const std::wstring& AURL, TStream& AStream) {
    return Download(WideToAnsi(AURL), AStream);
}

bool TtxInternetHTTP::Download(const std::string& AURL, std::string& ALine) {
    TMemoryStream stream;
    const bool received = Download(AURL, stream);
    ALine = stream.Bytes();
    return received;
}

bool TtxInternetHTTP::Download(const std::string& AServer, const std::string& APath,
                               TStringList& AStrings) {
    TMemoryStream stream;
    const bool received = Download(AServer, APath, stream);
    AStrings = TextToLines(stream.Bytes());
    return received;
}

bool TtxInternetHTTP::Download(const std::string& AURL, TStringList& AStrings) {
    TMemoryStream stream;
    const bool received = Download(AURL, stream);
    AStrings = TextToLines(stream.Bytes());
    return received;
}

bool TtxInternetHTTP::Post(const std::string& AServer, const std::string& APath,
                           const TMemoryStream& AHeaderStream, const TMemoryStream& AInStream,
                           TStream& AOutStream) {
    TRequest request;
    request.Verb = "POST";
    request.Path = APath;
    request.Headers = AHeaderStream.Bytes();
    request.Body = AInStream.Bytes();
    request.RetryUnauthorized = true;
    return Transfer(AServer, 80, request, AOutStream);
}

bool TtxInternetHTTP::Post(const std::string& AURL, const TMemoryStream& AHeaderStream,
                           const TMemoryStream& AInStream, TStream& AOutStream) {
    std::string server, path;
    if (!SplitURL(AURL, server, path)) {
        FErrorCode = DownloadURLWithoutSchemeCode;
        return false;
    }
    return Post(server, path, AHeaderStream, AInStream, AOutStream);
}

bool TtxInternetHTTP::Post(const std::string& AURL, const TStringList& AHeaderStrings,
                           const TStringList& AInStrings, TStringList& AOutStrings) {
    TMemoryStream headers, body, answer;
    const std::string headerText = LinesToText(AHeaderStrings);
    const std::string bodyText = DelimitedText(AInStrings, '&');
    headers.WriteBuffer(headerText.data(), headerText.size());
    body.WriteBuffer(bodyText.data(), bodyText.size());
    const bool received = Post(AURL, headers, body, answer);
    AOutStrings = TextToLines(answer.Bytes());
    return received;
}

namespace {

// One download on its own thread: everything it writes is here, shared with
// the thread that waits for it, so that a transfer left behind writes only
// into what nobody reads any more.
struct TDownloadAttempt {
    explicit TDownloadAttempt(const TDownloadLimits& ALimits) : Watch(ALimits) {}
    TTransferWatch Watch;
    TMemoryStream Stream;
    int32_t ErrorCode = 0;
    bool Received = false;
    std::exception_ptr Error;
    TKernelHandle Finished;
};

void Download(TDownloadAttempt& AAttempt, const std::wstring& AURL) {
    TtxInternetHTTP client;
    client.SetWatch(&AAttempt.Watch);
    AAttempt.Received = client.Download(AURL, AAttempt.Stream);
    AAttempt.ErrorCode = static_cast<int32_t>(client.ErrorCode());
    // Only a file the server had is a download: an error page is not, nor an
    // answer without a readable status.
    if (AAttempt.Received && client.StatusCode() != 200) {
        AAttempt.Received = false;
        AAttempt.ErrorCode =
            client.StatusCode() != 0 ? client.StatusCode() : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    }
}

// The attempts whose platform call was left behind, each with its thread:
// joined once it has ended, by the next download or the module's shut-down.
struct TLeftBehind {
    std::shared_ptr<TDownloadAttempt> Attempt;
    std::jthread Thread;
};

class TAttemptsLeftBehind {
public:
    TAttemptsLeftBehind() = default;
    TAttemptsLeftBehind(const TAttemptsLeftBehind&) = delete;
    TAttemptsLeftBehind& operator=(const TAttemptsLeftBehind&) = delete;
    // Whatever still runs when the program's statics go is the process's end
    // to take: joining it could wait for ever.
    ~TAttemptsLeftBehind() {
        for (TLeftBehind& left : FAttempts)
            left.Thread.detach();
    }

    void Add(std::shared_ptr<TDownloadAttempt> AAttempt, std::jthread AThread) {
        const std::lock_guard<std::mutex> lock(FLock);
        FAttempts.push_back({std::move(AAttempt), std::move(AThread)});
    }

    size_t Join(uint32_t AWaitMs) {
        std::vector<TLeftBehind> attempts;
        {
            const std::lock_guard<std::mutex> lock(FLock);
            attempts.swap(FAttempts);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AWaitMs);
        std::vector<TLeftBehind> running;
        for (TLeftBehind& left : attempts) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const DWORD waitMs = rest.count() > 0 ? static_cast<DWORD>(rest.count()) : 0;
            if (::WaitForSingleObject(left.Attempt->Finished.get(), waitMs) == WAIT_OBJECT_0)
                left.Thread.join();
            else
                running.push_back(std::move(left));
        }
        const std::lock_guard<std::mutex> lock(FLock);
        for (TLeftBehind& left : running)
            FAttempts.push_back(std::move(left));
        return FAttempts.size();
    }

private:
    std::mutex FLock;
    std::vector<TLeftBehind> FAttempts;
};

TAttemptsLeftBehind GLeftBehind;

// The thread of one download attempt, as its caller holds it. However the
// caller's wait ends (a listener's exception too), the thread is joined when
// its transfer has returned, else the transfer is ended and left behind: the
// calling thread never waits for the platform.
class TTransferThread {
public:
    TTransferThread(std::shared_ptr<TDownloadAttempt> AAttempt, const std::wstring& AURL)
        : FAttempt(std::move(AAttempt)), FThread([attempt = FAttempt, AURL] {
              try {
                  Download(*attempt, AURL);
              } catch (...) {
                  attempt->Error = std::current_exception();
              }
              ::SetEvent(attempt->Finished.get());
          }) {}
    TTransferThread(const TTransferThread&) = delete;
    TTransferThread& operator=(const TTransferThread&) = delete;
    ~TTransferThread() { End(); }

    void End() {
        if (!FThread.joinable())
            return;
        if (::WaitForSingleObject(FAttempt->Finished.get(), 0) == WAIT_OBJECT_0) {
            FThread.join();
            return;
        }
        FAttempt->Watch.Cancel();
        GLeftBehind.Add(FAttempt, std::move(FThread));
    }

private:
    std::shared_ptr<TDownloadAttempt> FAttempt;
    std::jthread FThread;
};

const char* PhaseName(TTransferPhase APhase) {
    switch (APhase) {
    case TTransferPhase::Connecting:
        return "connecting";
    case TTransferPhase::Answering:
        return "waiting for the head";
    case TTransferPhase::Receiving:
        return "receiving the body";
    }
    return "";
}

} // namespace

size_t JoinDownloadsLeftBehind(uint32_t AWaitMs) {
    return GLeftBehind.Join(AWaitMs);
}

bool DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream, int32_t& AErrorCode,
                      const TDownloadWait& AWait) {
    const TDownloadLimits limits = DownloadLimits;
    auto attempt = std::make_shared<TDownloadAttempt>(limits);
    attempt->Finished.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!attempt->Finished) {
        AErrorCode = static_cast<int32_t>(::GetLastError());
        return false;
    }
    const HANDLE finished = attempt->Finished.get();
    // Those left behind earlier that have ended since are joined now.
    GLeftBehind.Join(0);
    TTransferThread transfer(attempt, AURL);

    const auto waiting = [&] {
        if (AWait.OnWaiting)
            AWait.OnWaiting(attempt->Watch.ReceivedBytes(), attempt->Watch.TotalBytes());
        return AWait.Cancel && *AWait.Cancel;
    };
    uint32_t ended = ERROR_SUCCESS;
    for (;;) {
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &finished, FALSE, 100, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            break;
        if (woken == WAIT_FAILED) {
            ended = ::GetLastError();
            break;
        }
        if (waiting()) {
            ended = DownloadCancelledCode;
            break;
        }
        if (attempt->Watch.Overdue()) {
            ended = ERROR_INTERNET_TIMEOUT;
            break;
        }
    }
    if (ended != ERROR_SUCCESS) {
        const TTransferPhase phase = attempt->Watch.Phase();
        attempt->Watch.Cancel();
        const bool returned =
            ::WaitForSingleObject(finished, limits.AbandonGraceMs) == WAIT_OBJECT_0;
        LogFailedCall(TransferTag(ended == DownloadCancelledCode ? "Cancelled" : "Bound"), ended);
        if (TDebugLogger* logger = DebugLogger())
            logger->LogMessage(std::string("- transfer ended while ") + PhaseName(phase) +
                                   (returned ? "" : "; the platform's call is left behind"),
                               dlvDefault);
        transfer.End();
        waiting();
        AErrorCode = static_cast<int32_t>(ended);
        return false;
    }
    transfer.End();
    // Cancelled while its last bytes arrived: nothing of it is used all the same.
    if (waiting()) {
        AErrorCode = static_cast<int32_t>(DownloadCancelledCode);
        return false;
    }
    if (attempt->Error)
        std::rethrow_exception(attempt->Error);
    if (AStream.Size() == 0 && AStream.Position() == 0)
        AStream = std::move(attempt->Stream);
    else
        AStream.WriteBuffer(attempt->Stream.Bytes().data(), attempt->Stream.Bytes().size());
    AStream.SetPosition(0);
    AErrorCode = attempt->ErrorCode;
    return attempt->Received;
}

std::string InternetErrorText(uint32_t AErrorCode) {
    switch (AErrorCode) {
    case DownloadFileNotOnServerCode:
        return "File not found on server!";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return "Could not find server!";
    case ERROR_INTERNET_CANNOT_CONNECT:
        return "Could not connect to server!";
    default:
        break;
    }
    char text[2048];
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         AErrorCode, 0, text, sizeof(text), nullptr);
    if (length == 0)
        return "Unknown error #" + std::to_string(AErrorCode);
    return std::to_string(AErrorCode) + ": " + std::string(text, length);
}
