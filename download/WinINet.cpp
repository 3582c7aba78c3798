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
#include "download/TransferWatch.h"
#include "platform/WinText.h"

namespace {

// INTERNET_FLAG_RELOAD: never from the cache. INTERNET_FLAG_TRANSFER_ASCII
// means nothing to HTTP; it is part of the flags the server has always seen.
constexpr DWORD RequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII;

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

} // namespace

std::string WinINetUserAgent;
TDownloadLimits DownloadLimits;

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
