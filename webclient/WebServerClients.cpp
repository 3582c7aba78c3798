#include "webclient/WebServerClients.h"

#include "platform/SocketHandle.h"

#include <algorithm>

#include "webclient/HttpAnswer.h"
#include "webclient/PercentEncoding.h"

namespace {

// Each wait to hand the request over is bounded too, so that a peer that
// reads nothing cannot hold the caller.
constexpr DWORD SendTimeoutMs = 30000;
constexpr size_t ReceivePieceSize = 64 * 1024;

// Bytes a request line cannot carry: controls, space and bytes above 0x7E.
bool MustEncodeInRequestLine(unsigned char AByte) {
    return AByte <= 0x20 || AByte >= 0x7F;
}

// A connected socket to AHost:APort, trying each address the name has.
// ARefused tells whether every address refused the connection: nothing
// listens there, and nothing was sent.
TSocket Connect(const std::string& AHost, uint32_t APort, bool& ARefused) {
    ARefused = false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    TAddressInfo addresses;
    const std::string service = std::to_string(APort);
    if (::getaddrinfo(AHost.c_str(), service.c_str(), &hints, addresses.addressof()) != 0)
        return {};
    bool refused = true;
    for (const addrinfo* address = addresses.get(); address; address = address->ai_next) {
        TSocket socket(::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        if (socket &&
            ::connect(socket.get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0)
            return socket;
        refused = refused && socket && ::WSAGetLastError() == WSAECONNREFUSED;
    }
    ARefused = refused && addresses.get() != nullptr;
    return {};
}

bool SendAll(SOCKET ASocket, std::string_view AData) {
    while (!AData.empty()) {
        const int chunk = static_cast<int>(std::min<size_t>(AData.size(), 1 << 20));
        const int sent = ::send(ASocket, AData.data(), chunk, 0);
        if (sent <= 0)
            return false;
        AData.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
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
    FConnectRefused = false;
    // Port 0 and ports above 65535 name nothing a server listens on.
    if (FHost.empty() || Port() == 0 || Port() > 65535)
        return false;

    const TWinsockSession winsock;
    if (!winsock)
        return false;
    // Connecting keeps the system's own time-out; each wait for response data
    // is bounded by ours.
    const TSocket socket = Connect(FHost, Port(), FConnectRefused);
    if (!socket)
        return false;
    const DWORD receiveTimeout = FReceiveTimeout, sendTimeout = SendTimeoutMs;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO,
                 reinterpret_cast<const char*>(&receiveTimeout), sizeof(receiveTimeout));
    ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
                 sizeof(sendTimeout));

    // One connection per retrieval, closed by both sides after the answer:
    // nothing of one exchange, whole or broken, can reach the next.
    const std::string request =
        "GET " + PercentEncode("/" + FPath + ConstructParameters(), MustEncodeInRequestLine) +
        " HTTP/1.1\r\nHost: " + FHost + ":" + std::to_string(Port()) +
        "\r\nConnection: close\r\n\r\n";
    if (!SendAll(socket.get(), request))
        return false;

    std::string received;
    THttpAnswer answer;
    for (;;) {
        const size_t size = received.size();
        received.resize(size + ReceivePieceSize);
        const int count =
            ::recv(socket.get(), received.data() + size, static_cast<int>(ReceivePieceSize), 0);
        // A time-out or a reset ends the exchange as it stands.
        const bool failed = count < 0;
        received.resize(size + static_cast<size_t>(std::max(count, 0)));
        if (count > 0 && received.size() < answer.Needed)
            continue;
        answer = ReadHttpAnswer(received, count <= 0);
        if (answer.State != hasIncomplete || failed) {
            AStatusCode = answer.StatusCode;
            AReturnInfo = std::move(answer.Body);
            return answer.State == hasComplete && !failed;
        }
    }
}
