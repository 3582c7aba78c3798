// The folder lock's name, apart from the system: pure, tested with tables.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FolderLockName.h"

std::wstring NormalisedFolder(std::wstring_view AResolvedFolder) {
    std::wstring folder(AResolvedFolder);
    constexpr std::wstring_view longPrefix = L"\\\\?\\";
    constexpr std::wstring_view uncPrefix = L"\\\\?\\UNC\\";
    if (folder.starts_with(uncPrefix))
        folder = L"\\\\" + folder.substr(uncPrefix.size());
    else if (folder.starts_with(longPrefix))
        folder.erase(0, longPrefix.size());
    // A root keeps its "\": "C:\" is no "C:", which names a drive's current folder.
    while (folder.size() > 1 && folder.back() == L'\\' &&
           !(folder.size() == 3 && folder[1] == L':'))
        folder.pop_back();
    return folder;
}

std::wstring FolderLockName(std::wstring_view APurpose, std::wstring_view ANormalisedFolder) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const wchar_t unit : ANormalisedFolder) {
        const auto value = static_cast<uint16_t>(unit);
        for (const uint8_t byte :
             {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)}) {
            hash ^= byte;
            hash *= 0x100000001b3ULL;
        }
    }
    static constexpr wchar_t Digits[] = L"0123456789abcdef";
    std::wstring name(APurpose);
    name += L'-';
    for (int shift = 60; shift >= 0; shift -= 4)
        name += Digits[(hash >> shift) & 0xF];
    return name;
}
