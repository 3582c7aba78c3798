// The debug logger's error lines during a test, through a line handler
// registered for the capture's lifetime.
#pragma once

#include <string>
#include <vector>

struct TLoggedError {
    std::wstring Tag; // the text before " (error code "
    long Code = 0;

    bool operator==(const TLoggedError&) const = default;
};

class TDebugLogCapture {
public:
    TDebugLogCapture();
    TDebugLogCapture(const TDebugLogCapture&) = delete;
    TDebugLogCapture& operator=(const TDebugLogCapture&) = delete;
    ~TDebugLogCapture();

    const std::vector<std::wstring>& Lines() const;
    // The error lines, as tag and code.
    std::vector<TLoggedError> Errors() const;
    void Clear();
};

// For messages of failed expectations.
void PrintTo(const TLoggedError& AError, std::ostream* AOut);
