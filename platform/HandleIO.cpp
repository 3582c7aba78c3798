#include "platform/HandleIO.h"

#include <windows.h>

#include <algorithm>

unsigned long WriteAll(void* AHandle, std::string_view ABytes) {
    while (!ABytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<size_t>(ABytes.size(), 1 << 20));
        if (!::WriteFile(AHandle, ABytes.data(), chunk, &written, nullptr))
            return ::GetLastError();
        if (written == 0)
            return ERROR_DISK_FULL;
        ABytes.remove_prefix(written);
    }
    return 0;
}

unsigned long ReadAll(void* AHandle, std::string& AData) {
    char buffer[4096];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(AHandle, buffer, sizeof(buffer), &read, nullptr)) {
            const DWORD error = ::GetLastError();
            // A pipe reports its end as this error once its last writer is gone.
            return error == ERROR_BROKEN_PIPE ? 0 : error;
        }
        if (read == 0)
            return 0;
        AData.append(buffer, read);
    }
}
