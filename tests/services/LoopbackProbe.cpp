#include "tests/services/LoopbackProbe.h"

#include "platform/SocketHandle.h"

#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstdlib>

int LoopbackStatus(unsigned short APort, const std::string& ARequest) {
    const TWinsockSession winsock;
    TSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket)
        return -1;
    const SOCKET client = socket.get();
    const DWORD timeout = 30000;
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof(timeout));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(APort);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return -1;
    ::send(client, ARequest.data(), static_cast<int>(ARequest.size()), 0);
    // Nothing more comes: a server waiting for the rest of a request learns it at once.
    ::shutdown(client, SD_SEND);
    std::string answer;
    char buffer[1024];
    for (int n; (n = ::recv(client, buffer, sizeof(buffer), 0)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12)
        return 0;
    return std::atoi(answer.substr(9, 3).c_str());
}

int LoopbackGet(unsigned short APort, const std::string& APath) {
    return LoopbackStatus(APort, "GET " + APath + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

std::vector<std::string> ListeningAddresses(unsigned short APort) {
    std::vector<std::string> addresses;
    ULONG size = 0;
    ::GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
    std::vector<char> buffer(size + 1024);
    size = static_cast<ULONG>(buffer.size());
    if (::GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER,
                              0) != NO_ERROR)
        return addresses;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = table->table[i];
        if (::ntohs(static_cast<u_short>(row.dwLocalPort)) != APort)
            continue;
        in_addr address{};
        address.s_addr = row.dwLocalAddr;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address, text, sizeof(text));
        addresses.push_back(text);
    }
    return addresses;
}

TSocket HoldLoopbackPort(unsigned short APort) {
    TSocket held(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(APort);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::bind(held.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(held.get(), 1) != 0)
        return {};
    return held;
}
