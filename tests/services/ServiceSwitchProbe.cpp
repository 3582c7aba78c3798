// serviceswitchprobe <service name> [arguments...]: asks vxnServiceExists for
// the service with the arguments on its own command line, and reports through
// its exit code: 1 = the answer was yes, 2 = the error code was left as it
// was, 4 = nothing was logged.
#include <windows.h>

#include "services/Services.h"
#include "tests/services/DebugLogCapture.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 64;
    TDebugLogCapture log;
    DWORD errorCode = 4242;
    const bool exists = vxnServiceExists(argv[1], errorCode);
    return (exists ? 1 : 0) | (errorCode == 4242 ? 2 : 0) | (log.Lines().empty() ? 4 : 0);
}
