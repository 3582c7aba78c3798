#include "platform/StandardStream.h"

#include <windows.h>

#include "platform/HandleIO.h"
#include "platform/WinText.h"

TStandardStream::TStandardStream(unsigned long AWhich) {
    HANDLE handle = ::GetStdHandle(AWhich);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        if (::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED) {
            FConsole.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
        }
        handle = FConsole ? FConsole.get() : nullptr;
    }
    FHandle = handle;
}

// A console gets the text as characters, anything else UTF-8 bytes.
bool TStandardStream::Write(const std::string& AUtf8) {
    if (!FHandle)
        return false;
    DWORD mode = 0;
    if (::GetConsoleMode(FHandle, &mode)) {
        const std::wstring text = Utf8ToWide(AUtf8);
        DWORD written = 0;
        return ::WriteConsoleW(FHandle, text.data(), static_cast<DWORD>(text.size()), &written,
                               nullptr) &&
               written == text.size();
    }
    const DWORD error = WriteAll(FHandle, AUtf8);
    ::SetLastError(error);
    return error == 0;
}
