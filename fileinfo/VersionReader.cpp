#include "fileinfo/VersionReader.h"

#include <windows.h>

#include <cstring>
#include <exception>
#include <utility>

#include "diagnostics/DebugLogger.h"

namespace {

std::wstring HexWord(std::uint16_t AValue) {
    constexpr wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text(4, L'0');
    for (int i = 3; i >= 0; --i, AValue = static_cast<std::uint16_t>(AValue >> 4))
        text[static_cast<size_t>(i)] = digits[AValue & 0xF];
    return text;
}

bool FindVersionString(const std::wstring& AFilename, const std::wstring& AValueName,
                       std::wstring& AText) {
    std::vector<std::uint8_t> data;
    if (!LoadVersionInfo(AFilename, data))
        return false;
    LPVOID list = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\\\VarFileInfo\\\\Translation", &list, &length) || !list)
        return false;
    // The list may sit anywhere in the block: copied out, not read in place.
    std::vector<DWORD> translations(length / sizeof(DWORD));
    std::memcpy(translations.data(), list, translations.size() * sizeof(DWORD));
    for (const DWORD translation : translations) {
        LPVOID value = nullptr;
        UINT size = 0;
        const std::wstring path =
            VersionStringPath(LOWORD(translation), HIWORD(translation), AValueName);
        if (!::VerQueryValueW(data.data(), path.c_str(), &value, &size) || !value)
            continue;
        std::wstring text = VersionValueText(static_cast<const wchar_t*>(value), size);
        if (!text.empty()) {
            AText = std::move(text);
            return true;
        }
    }
    return false;
}

} // namespace

std::wstring VersionValueText(const wchar_t* AText, std::size_t ALength) {
    if (!AText)
        return {};
    size_t end = 0;
    while (end < ALength && AText[end] != L'\0')
        ++end;
    return std::wstring(AText, end);
}

bool LoadVersionInfo(const std::wstring& AFilename, std::vector<std::uint8_t>& AData) {
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(AFilename.c_str(), &handle);
    if (size == 0)
        return false;
    AData.assign(size, 0);
    return ::GetFileVersionInfoW(AFilename.c_str(), 0, size, AData.data()) != FALSE;
}

std::wstring VersionStringPath(std::uint16_t ALanguage, std::uint16_t ACodePage,
                               const std::wstring& AValueName) {
    return L"\\\\StringFileInfo\\\\" + HexWord(ALanguage) + HexWord(ACodePage) + L"\\\\" +
           AValueName;
}

bool ReadVersionString(const std::wstring& AFilename, const std::wstring& AValueName,
                       std::wstring& AText) {
    try {
        return FindVersionString(AFilename, AValueName, AText);
    } catch (const std::exception& error) {
        if (TDebugLogger* logger = DebugLogger())
            logger->LogException(error, L"unexpected situation?", dlvFatal);
        return false;
    }
}

bool TryReadFileVersion(const std::wstring& AFilename, std::wstring& AText) {
    AText.clear();
    return ReadVersionString(AFilename, L"FileVersion", AText);
}

bool TryReadProductVersion(const std::wstring& AFilename, std::wstring& AText) {
    AText.clear();
    return ReadVersionString(AFilename, L"ProductVersion", AText);
}

std::wstring ReadFileVersion(const std::wstring& AFilename) {
    std::wstring text;
    return TryReadFileVersion(AFilename, text) ? text : std::wstring();
}

std::wstring ReadProductVersion(const std::wstring& AFilename) {
    std::wstring text;
    return TryReadProductVersion(AFilename, text) ? text : std::wstring();
}
