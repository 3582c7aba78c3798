// What a client on this machine sees of a loopback web interface: raw requests
// over a socket, and which addresses a port listens on.
#pragma once

#include <string>
#include <vector>

#include "platform/SocketHandle.h"

// Sends ARequest to 127.0.0.1:APort and returns the status code of the answer;
// -1 when no connection was made, 0 when the answer was no HTTP response.
int LoopbackStatus(unsigned short APort, const std::string& ARequest);
// GET APath as HTTP/1.1.
int LoopbackGet(unsigned short APort, const std::string& APath);

// The local IPv4 addresses ("a.b.c.d") of the TCP sockets listening on APort.
std::vector<std::string> ListeningAddresses(unsigned short APort);

// A socket listening on 127.0.0.1:APort, as another program holds a port;
// none when the port is held already. Needs a Winsock session.
TSocket HoldLoopbackPort(unsigned short APort);
