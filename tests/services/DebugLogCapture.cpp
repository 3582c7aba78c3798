#include "tests/services/DebugLogCapture.h"

#include <ostream>

#include "diagnostics/DebugLogger.h"
#include "platform/WinText.h"

namespace {

// Line handlers are plain procedures: the lines go to one list per process.
std::vector<std::wstring> CapturedLines;

void CaptureLine(const std::wstring& ALine) {
    CapturedLines.push_back(ALine);
}

} // namespace

TDebugLogCapture::TDebugLogCapture() {
    CapturedLines.clear();
    DebugHandlerData()->RegisterDebugLogLineHandler(&CaptureLine);
}

TDebugLogCapture::~TDebugLogCapture() {
    DebugHandlerData()->RemoveDebugLogLineHandler(&CaptureLine);
}

const std::vector<std::wstring>& TDebugLogCapture::Lines() const {
    return CapturedLines;
}

std::vector<TLoggedError> TDebugLogCapture::Errors() const {
    // "{program.exe} ! Routine.Call (error code 5: Access is denied)"
    std::vector<TLoggedError> errors;
    for (const std::wstring& line : CapturedLines) {
        const size_t mark = line.find(L"} ! ");
        const size_t code = line.find(L" (error code ");
        if (mark == std::wstring::npos || code == std::wstring::npos || code < mark)
            continue;
        errors.push_back({line.substr(mark + 4, code - mark - 4),
                          std::wcstol(line.c_str() + code + 13, nullptr, 10)});
    }
    return errors;
}

void TDebugLogCapture::Clear() {
    CapturedLines.clear();
}

void PrintTo(const TLoggedError& AError, std::ostream* AOut) {
    *AOut << WideToUtf8(AError.Tag) << " (" << AError.Code << ")";
}
