// URL objects for a web interface of the suite's services on this computer.
#pragma once

#include "webclient/WebServerClients.h"

class TLocalWebServiceURL : public TURL {
public:
    TLocalWebServiceURL();
};
