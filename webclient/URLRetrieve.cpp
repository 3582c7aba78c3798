// TURL's retrieval through the download client, apart from the rest of TURL:
// a program that never calls it links neither the client nor WinINet.
#include "webclient/WebServerClients.h"

#include "download/WinINet.h"

bool TURL::Retrieve(std::string& AReturnInfo, uint32_t& AStatusCode) const {
    TtxInternetHTTP client;
    std::string text;
    const bool received = client.Download(ConstructURL(), text);
    AReturnInfo = text;
    AStatusCode = client.StatusCode();
    return received;
}
