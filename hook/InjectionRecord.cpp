#include "hook/InjectionRecord.h"

#include <windows.h>

#include "platform/Handles.h"

namespace {

constexpr const wchar_t* InjectionRecordKey = L"SOFTWARE\\Quorvane Tessit\\HookInjection\\";

std::wstring RecordKey(const std::wstring& ADriverName) {
    return InjectionRecordKey + ADriverName;
}

} // namespace

void RecordInjection(const std::wstring& ADriverName, const std::wstring& ALibraryFile) {
    TRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecordKey(ADriverName).c_str(), 0, nullptr,
                          REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, key.addressof(),
                          nullptr) == ERROR_SUCCESS)
        ::RegSetValueExW(key.get(), ALibraryFile.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
}

void ForgetInjection(const std::wstring& ADriverName, const std::wstring& ALibraryFile) {
    TRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKey(ADriverName).c_str(), 0, KEY_SET_VALUE,
                        key.addressof()) == ERROR_SUCCESS)
        ::RegDeleteValueW(key.get(), ALibraryFile.c_str());
}

std::vector<std::wstring> RecordedInjections(const std::wstring& ADriverName) {
    std::vector<std::wstring> libraries;
    TRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKey(ADriverName).c_str(), 0, KEY_QUERY_VALUE,
                        key.addressof()) != ERROR_SUCCESS)
        return libraries;
    std::wstring name(32768, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                            nullptr) != ERROR_SUCCESS)
            break;
        libraries.emplace_back(name.c_str(), length);
    }
    return libraries;
}
