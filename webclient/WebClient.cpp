#include "webclient/WebClient.h"

TLocalWebServiceURL::TLocalWebServiceURL() {
    SetHost("127.0.0.1");
}
