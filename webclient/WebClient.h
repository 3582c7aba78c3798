// URL objects for a web interface of the suite's services on this computer.
#pragma once

#include "WebServerClients.h"

class TLocalWebServiceURL : public TURL {
public:
    TLocalWebServiceURL();
};
