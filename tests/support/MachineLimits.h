// What the machine running the tests cannot do, as the test run probed it
// once (scripts/test): a test that needs it skips itself and says why.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// Why 32-bit x86 programs cannot run on this machine, empty where they can.
// Some kernels refuse 32-bit programs altogether; Wine then cannot start one.
inline std::string No32BitProcessesReason() {
    const char* reason = std::getenv("DERODO_NO_32BIT");
    return reason ? reason : "";
}

// Skips the running test where it would start a 32-bit process.
#define SKIP_WITHOUT_32BIT_PROCESSES()                                                             \
    do {                                                                                           \
        if (const std::string reason = No32BitProcessesReason(); !reason.empty())                  \
            GTEST_SKIP() << "needs 32-bit processes: " << reason;                                  \
    } while (false)
