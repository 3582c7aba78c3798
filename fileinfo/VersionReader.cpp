#include "VersionReader.h"

#include <windows.h>

#include <exception>

#include "DebugLogger.h"

namespace {

// Each separator doubled: the version API reads "\\" like "\".
constexpr const wchar_t* TranslationPath = L"\\\\VarFileInfo\\\\Translation";

std::wstring Hex4(std::uint16_t AValue) {
    static constexpr wchar_t Digits[] = L"0123456789ABCDEF";
    std::wstring text(4, L'0');
    for (int i = 3; i >= 0; --i, AValue >>= 4)
        text[i] = Digits[AValue & 15];
    return text;
}

bool FindVersionString(const std::wstring& AFilename, const std::wstring& AValueName,
                       std::wstring& AText) {
    std::vector<std::uint8_t> data;
    if (!LoadVersionInfo(AFilename, data))
        return false;
    LPVOID translations = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), TranslationPath, &translations, &length) || !translations)
        return false;
    // Each entry: the language in the low 16 bits, the code page in the high.
    for (UINT i = 0; i < length / 4; ++i) {
        const DWORD translation = static_cast<const DWORD*>(translations)[i];
        LPVOID value = nullptr;
        UINT valueLength = 0;
        if (::VerQueryValueW(
                data.data(),
                VersionStringPath(LOWORD(translation), HIWORD(translation), AValueName).c_str(),
                &value, &valueLength) &&
            value && *static_cast<const wchar_t*>(value) != L'\0') {
            AText = static_cast<const wchar_t*>(value);
            return true;
        }
    }
    return false;
}

} // namespace

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
    return L"\\\\StringFileInfo\\\\" + Hex4(ALanguage) + Hex4(ACodePage) + L"\\\\" + AValueName;
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
