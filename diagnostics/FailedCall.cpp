#include "diagnostics/FailedCall.h"

#include <windows.h>

#include "diagnostics/DebugLogger.h"
#include "platform/Handles.h"

// The logger's first use creates it, which may touch the last error.
void LogFailedCall(const std::wstring& ATag, unsigned long AErrorCode) {
    const TLastErrorKeeper lastError;
    if (TDebugLogger* logger = DebugLogger())
        logger->LogError(AErrorCode, ATag, dlvError);
}

unsigned long LogFailedCall(const std::wstring& ATag) {
    const DWORD errorCode = ::GetLastError();
    LogFailedCall(ATag, errorCode);
    return errorCode;
}
