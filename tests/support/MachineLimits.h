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

// How 32-bit x86 programs run here, as the run probed it: "native",
// "emulated" (qemu-user, in the run's own namespace), or empty where they
// cannot run.
inline std::string Kind32BitProcesses() {
    const char* kind = std::getenv("DERODO_32BIT");
    return kind ? kind : "";
}

// How long, in milliseconds, a test waits for a process of that bitness to
// come up or to answer. Under emulation qemu translates every instruction of
// Wine's start-up anew in each 32-bit process: tens of seconds of processor
// time each, minutes on a loaded machine.
// Emulated, the bound stays below CTest's time-out for the tests that start
// a 32-bit process (tests/hook/CMakeLists.txt), so that a target that does
// not come up fails the test with its own message.
inline unsigned long ProcessAnswerBound(bool A32Bit) {
    return A32Bit && Kind32BitProcesses() == "emulated" ? 400000 : 30000;
}

// Skips the running test where it would start a 32-bit process.
#define SKIP_WITHOUT_32BIT_PROCESSES()                                                             \
    do {                                                                                           \
        if (const std::string reason = No32BitProcessesReason(); !reason.empty())                  \
            GTEST_SKIP() << "needs 32-bit processes: " << reason;                                  \
    } while (false)

// Why a library cannot be injected into a 32-bit process here although one
// runs, empty where it can.
inline std::string No32BitInjectionReason() {
    const char* reason = std::getenv("DERODO_NO_32BIT_INJECTION");
    return reason ? reason : "";
}

// Skips the running test where it would inject into a 32-bit process.
#define SKIP_WITHOUT_32BIT_INJECTION()                                                             \
    do {                                                                                           \
        SKIP_WITHOUT_32BIT_PROCESSES();                                                            \
        if (const std::string reason = No32BitInjectionReason(); !reason.empty())                  \
            GTEST_SKIP() << "needs 32-bit processes: " << reason;                                  \
    } while (false)
