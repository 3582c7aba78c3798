// The product's configuration store in the registry: values below
// "\Software\Quorvane Tessit Limited\Vexlo\" + a sub path. Reading looks under
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, the machine's value winning, and a
// value of another registry type counts as absent; writing goes to
// HKEY_LOCAL_MACHINE. Reads never fail outward: an absent value gives the
// caller's default. A write that cannot open or create its key is dropped.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const wchar_t* ConfigurationCompanyName = L"Quorvane Tessit Limited";
inline constexpr const wchar_t* ConfigurationProductName = L"Vexlo";

class TConfigurationStore {
public:
    // "\Software\<company>\<product>\" with ASubPath appended unchanged.
    static std::wstring KeyPath(const std::wstring& ASubPath);

    uint32_t ReadInteger(const std::wstring& ASubPath, const std::wstring& AName,
                         uint32_t ADefault) const;
    bool ReadBool(const std::wstring& ASubPath, const std::wstring& AName, bool ADefault) const;
    std::wstring ReadString(const std::wstring& ASubPath, const std::wstring& AName,
                            const std::wstring& ADefault) const;

    void WriteInteger(const std::wstring& ASubPath, const std::wstring& AName, uint32_t AValue);
    // As REG_DWORD 0 or 1.
    void WriteBool(const std::wstring& ASubPath, const std::wstring& AName, bool AValue);
    void WriteString(const std::wstring& ASubPath, const std::wstring& AName,
                     const std::wstring& AValue);
};

// The process-wide store, created on first use.
TConfigurationStore& ConfigurationStore();
