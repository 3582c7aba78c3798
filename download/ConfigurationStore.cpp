#include "download/ConfigurationStore.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "diagnostics/FailedCall.h"
#include "platform/Handles.h"

namespace {

// The registry's own calls take the key without the leading "\" that marks
// the path as one from the root.
std::wstring RegistryPath(const std::wstring& ASubPath) {
    return TConfigurationStore::KeyPath(ASubPath).substr(1);
}

std::optional<DWORD> ReadDword(HKEY ARoot, const std::wstring& APath, const std::wstring& AName) {
    TRegKey key;
    if (::RegOpenKeyExW(ARoot, APath.c_str(), 0, KEY_QUERY_VALUE, key.addressof()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, value = 0, size = sizeof(value);
    if (::RegQueryValueExW(key.get(), AName.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return std::nullopt;
    return value;
}

std::optional<std::wstring> ReadSz(HKEY ARoot, const std::wstring& APath,
                                   const std::wstring& AName) {
    TRegKey key;
    if (::RegOpenKeyExW(ARoot, APath.c_str(), 0, KEY_QUERY_VALUE, key.addressof()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), AName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key.get(), AName.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    // The stored text may or may not carry its terminating zero.
    return std::wstring(text.data());
}

// The machine's value wins over the user's.
template <typename T, typename Reader>
std::optional<T> ReadBoth(const std::wstring& ASubPath, const std::wstring& AName, Reader ARead) {
    const std::wstring path = RegistryPath(ASubPath);
    if (std::optional<T> machine = ARead(HKEY_LOCAL_MACHINE, path, AName))
        return machine;
    return ARead(HKEY_CURRENT_USER, path, AName);
}

void Write(const std::wstring& ASubPath, const std::wstring& AName, DWORD AType, const void* AData,
           DWORD ASize) {
    TRegKey key;
    const std::wstring path = RegistryPath(ASubPath);
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                       KEY_SET_VALUE, nullptr, key.addressof(), nullptr);
    if (status == ERROR_SUCCESS)
        status = ::RegSetValueExW(key.get(), AName.c_str(), 0, AType,
                                  static_cast<const BYTE*>(AData), ASize);
    if (status != ERROR_SUCCESS)
        LogFailedCall(L"TConfigurationStore.Write." + AName, static_cast<unsigned long>(status));
}

} // namespace

std::wstring TConfigurationStore::KeyPath(const std::wstring& ASubPath) {
    return std::wstring(L"\\Software\\") + ConfigurationCompanyName + L"\\" +
           ConfigurationProductName + L"\\" + ASubPath;
}

uint32_t TConfigurationStore::ReadInteger(const std::wstring& ASubPath, const std::wstring& AName,
                                          uint32_t ADefault) const {
    return ReadBoth<DWORD>(ASubPath, AName, ReadDword).value_or(ADefault);
}

bool TConfigurationStore::ReadBool(const std::wstring& ASubPath, const std::wstring& AName,
                                   bool ADefault) const {
    const std::optional<DWORD> value = ReadBoth<DWORD>(ASubPath, AName, ReadDword);
    return value ? *value != 0 : ADefault;
}

std::wstring TConfigurationStore::ReadString(const std::wstring& ASubPath,
                                             const std::wstring& AName,
                                             const std::wstring& ADefault) const {
    return ReadBoth<std::wstring>(ASubPath, AName, ReadSz).value_or(ADefault);
}

void TConfigurationStore::WriteInteger(const std::wstring& ASubPath, const std::wstring& AName,
                                       uint32_t AValue) {
    const DWORD value = AValue;
    Write(ASubPath, AName, REG_DWORD, &value, sizeof(value));
}

void TConfigurationStore::WriteBool(const std::wstring& ASubPath, const std::wstring& AName,
                                    bool AValue) {
    WriteInteger(ASubPath, AName, AValue ? 1 : 0);
}

void TConfigurationStore::WriteString(const std::wstring& ASubPath, const std::wstring& AName,
                                      const std::wstring& AValue) {
    Write(ASubPath, AName, REG_SZ, AValue.c_str(),
          static_cast<DWORD>((AValue.size() + 1) * sizeof(wchar_t)));
}

TConfigurationStore& ConfigurationStore() {
    static TConfigurationStore store;
    return store;
}
