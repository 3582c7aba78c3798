#include "platform/RegistryValue.h"

std::optional<std::wstring> ReadStringValue(HKEY AKey, const wchar_t* AValueName) {
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD size = 0;
    LSTATUS status = ::RegGetValueW(AKey, nullptr, AValueName, flags, nullptr, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return std::wstring();
    std::wstring data;
    // The value may grow between the two reads; then the size is asked again.
    do {
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return std::nullopt;
        data.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = ::RegGetValueW(AKey, nullptr, AValueName, flags, nullptr, data.data(), &size);
    } while (status == ERROR_MORE_DATA);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0')
        data.pop_back();
    return data;
}
