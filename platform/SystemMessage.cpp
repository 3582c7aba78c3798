#include "platform/SystemMessage.h"

#include <windows.h>

#include "platform/Handles.h"

std::wstring TrimSystemMessage(std::wstring text) {
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.'))
        text.pop_back();
    return text;
}

namespace {

// WinINet's codes (12000 and up) have their texts in wininet.dll's own
// message table: Windows' system table answers them with nothing.
bool IsInternetError(unsigned long AErrorCode) {
    return AErrorCode >= InternetErrorFirst && AErrorCode <= InternetErrorLast;
}

// The texts only: mapped as a resource from the system folder, so that no
// code of it runs and no copy beside the program is taken.
TModuleHandle InternetMessageTable() {
    return TModuleHandle(::LoadLibraryExW(
        L"wininet.dll", nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_SEARCH_SYSTEM32));
}

std::wstring Format(DWORD AFlags, LPCVOID ASource, unsigned long AErrorCode) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(AFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                             FORMAT_MESSAGE_ARGUMENT_ARRAY,
                         ASource, AErrorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    TLocalMemory owner(buffer);
    if (length == 0 || buffer == nullptr)
        return {};
    return TrimSystemMessage(std::wstring(buffer, length));
}

} // namespace

std::wstring SystemMessage(unsigned long AErrorCode) {
    const TLastErrorKeeper keeper;
    if (IsInternetError(AErrorCode)) {
        if (const TModuleHandle table = InternetMessageTable()) {
            if (std::wstring text = Format(FORMAT_MESSAGE_FROM_HMODULE, table.get(), AErrorCode);
                !text.empty())
                return text;
        }
    }
    return Format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, AErrorCode);
}
