#include "WebServerClients.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>

#include "Handles.h"
#include "WinText.h"

namespace {

using TWinHttpHandle = TUniqueHandle<TNullHandleTraits<HINTERNET, &::WinHttpCloseHandle>>;

// Reads the body to its end; false when a read fails on the way.
bool ReadBody(HINTERNET ARequest, std::string& ABody) {
    char buffer[16384];
    for (;;) {
        DWORD read = 0;
        if (!::WinHttpReadData(ARequest, buffer, sizeof(buffer), &read))
            return false;
        if (read == 0)
            return true;
        ABody.append(buffer, read);
    }
}

std::optional<uint64_t> ContentLength(HINTERNET ARequest) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!::WinHttpQueryHeaders(ARequest, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                               text, &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    wchar_t* end = nullptr;
    const unsigned long long length = std::wcstoull(text, &end, 10);
    if (end == text || *end != L'\0')
        return std::nullopt;
    return length;
}

} // namespace

TURL::TURL() = default;

TURL::~TURL() = default;

uint32_t TURL::GetDefaultPort() const {
    return 80;
}

uint32_t TURL::Port() const {
    if (!FPort)
        FPort = GetDefaultPort();
    return *FPort;
}

int32_t TURL::FindParameter(std::string_view AKey) const {
    return FindURLParameter(FParameters, AKey);
}

int32_t TURL::FindParameter(std::string_view AKey, std::string& AValue) const {
    const int32_t index = FindParameter(AKey);
    if (index >= 0)
        AValue = FParameters[static_cast<size_t>(index)].Value;
    return index;
}

int32_t TURL::SetParameter(const std::string& AKey, const std::string& AValue) {
    int32_t index = FindParameter(AKey);
    if (index < 0) {
        FParameters.push_back({AKey, {}});
        index = static_cast<int32_t>(FParameters.size() - 1);
    }
    FParameters[static_cast<size_t>(index)].Value = AValue;
    return index;
}

std::string TURL::ConstructParameters() const {
    return RenderURLParameters(FParameters, FParameterStartChar, FParameterDelimiterChar,
                               FParameterValueSeparatorChar);
}

std::string TURL::ConstructURL() const {
    return RenderURL(FHost, Port(), FPath, ConstructParameters());
}

bool TURL::RetrieveSynapse(std::string& AReturnInfo, uint32_t& AStatusCode) const {
    AReturnInfo.clear();
    AStatusCode = 0;

    const std::wstring url = AnsiToWide(ConstructURL());
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.dwHostNameLength == 0)
        return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                                std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    TWinHttpHandle session(::WinHttpOpen(L"Vexlo Live Protection Test",
                                         WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return false;
    // Only the waits for response data are bounded by us; resolving,
    // connecting and sending keep the system's own time-outs.
    ::WinHttpSetTimeouts(session.get(), 0, 60000, 30000, static_cast<int>(FReceiveTimeout));
    TWinHttpHandle connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection)
        return false;
    TWinHttpHandle request(::WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                0));
    if (!request)
        return false;
    // The wait for the response head is bounded like the waits for the body.
    DWORD receiveTimeout = FReceiveTimeout;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveTimeout,
                       sizeof(receiveTimeout));
    // A redirect is an answer in its own right here, not a request to follow.
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
    if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr))
        return false;

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX))
        return false;
    AStatusCode = status;
    if (!ReadBody(request.get(), AReturnInfo))
        return false;
    // A connection that closes before the announced length is a broken
    // exchange, not a short answer.
    const std::optional<uint64_t> length = ContentLength(request.get());
    return !length || AReturnInfo.size() >= *length;
}
