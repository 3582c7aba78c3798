#include "platform/SystemMessage.h"

#include <windows.h>

#include "platform/Handles.h"

std::wstring TrimSystemMessage(std::wstring text) {
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.'))
        text.pop_back();
    return text;
}

std::wstring SystemMessage(unsigned long AErrorCode) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                         nullptr, AErrorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    TLocalMemory owner(buffer);
    if (length == 0 || buffer == nullptr)
        return {};
    return TrimSystemMessage(std::wstring(buffer, length));
}
