// The process's standard output and error as text: a console gets it as
// characters, anything else (a file, a pipe) UTF-8 bytes, written whole.
#pragma once

#include <string>

#include "platform/Handles.h"

// A program of the windows subsystem has standard handles only when its
// starter handed them over (a redirection, a pipe); started from a console
// without one, it writes to its parent's console.
class TStandardStream {
public:
    // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE.
    explicit TStandardStream(unsigned long AWhich);
    TStandardStream(const TStandardStream&) = delete;
    TStandardStream& operator=(const TStandardStream&) = delete;

    // False, with the thread's last error, when not all of it was written.
    bool Write(const std::string& AUtf8);

private:
    void* FHandle = nullptr;
    TFileHandle FConsole;
};
