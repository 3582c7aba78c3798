// The file-scan service's loopback web interface: its URL class, its port and
// the three commands the tool sends to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "webclient/URLRules.h"
#include "webclient/WebClient.h"

// The service's port, from its service key as stored (even 0 or above 65535,
// which the client then refuses); 21323 when it cannot be read as a REG_DWORD.
int32_t FileScanServicePort();

class TFileScanURL : public TLocalWebServiceURL {
public:
    // Sets "filename": the name as UTF-8, percent-encoded (empty when the name
    // cannot be converted).
    void SetFilename(const std::wstring& AFilename);
    void AddProcessID(uint32_t AID);
    void AddCurrentProcessID();

protected:
    uint32_t GetDefaultPort() const override;
};

// True only when the service answered the command with status 200.
bool WebServiceLPActivate();
bool WebServiceInject();
bool WebServiceUninject();
