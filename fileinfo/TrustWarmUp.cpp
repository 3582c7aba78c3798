#include "fileinfo/TrustWarmUp.h"

#include <windows.h>

#include <wincrypt.h>

#include <system_error>
#include <thread>

#include "platform/Handles.h"

namespace {

// Joined by the module's shut-down.
std::jthread GWarmUp;

void ReadRootCertificates() {
    const TCertStore store(
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"Root"));
}

} // namespace

void TrustWarmUpStartUp() {
    if (GWarmUp.joinable())
        return;
    try {
        GWarmUp = std::jthread(ReadRootCertificates);
    } catch (const std::system_error&) {
        // Without a thread the first check reads the certificates itself.
    }
}

void TrustWarmUpShutDown() {
    if (GWarmUp.joinable())
        GWarmUp.join();
}
