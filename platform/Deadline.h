// A point in time some milliseconds ahead, for waits that share one time-out.
#pragma once

#include <windows.h>

class TDeadline {
public:
    explicit TDeadline(DWORD ATimeout) : FEnd(::GetTickCount64() + ATimeout) {}
    // Milliseconds left, 0 once it has passed.
    DWORD Remaining() const {
        const ULONGLONG now = ::GetTickCount64();
        return now >= FEnd ? 0 : static_cast<DWORD>(FEnd - now);
    }

private:
    ULONGLONG FEnd;
};
