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

// The first non-empty value AValueName of the block's translations.
bool FindInVersionInfo(std::vector<std::uint8_t>& AData, const std::wstring& AValueName,
                       std::wstring& AText) {
    LPVOID list = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(AData.data(), L"\\\\VarFileInfo\\\\Translation", &list, &length) || !list)
        return false;
    // The list may sit anywhere in the block: copied out, not read in place.
    std::vector<DWORD> translations(length / sizeof(DWORD));
    std::memcpy(translations.data(), list, translations.size() * sizeof(DWORD));
    for (const DWORD translation : translations) {
        LPVOID value = nullptr;
        UINT size = 0;
        const std::wstring path =
            VersionStringPath(LOWORD(translation), HIWORD(translation), AValueName);
        if (!::VerQueryValueW(AData.data(), path.c_str(), &value, &size) || !value)
            continue;
        std::wstring text = VersionValueText(static_cast<const wchar_t*>(value), size);
        if (!text.empty()) {
            AText = std::move(text);
            return true;
        }
    }
    return false;
}

bool FindVersionString(const std::wstring& AFilename, const std::wstring& AValueName,
                       std::wstring& AText) {
    std::vector<std::uint8_t> data;
    return LoadVersionInfo(AFilename, data) && FindInVersionInfo(data, AValueName, AText);
}

void LogUnexpected(const std::exception& AError) {
    if (TDebugLogger* logger = DebugLogger())
        logger->LogException(AError, L"unexpected situation?", dlvFatal);
}

// A 32-bit block (VS_VERSIONINFO) counts its bytes in a 16-bit length and
// names itself in UTF-16 after its three counts; the 16-bit kind of old
// executables names itself in 8-bit text after two.
constexpr std::size_t LargestBlock = 0xFFFF;
constexpr wchar_t BlockKey[] = L"VS_VERSION_INFO";

bool WholeWideBlock(const std::vector<std::uint8_t>& AData) {
    constexpr std::size_t keyAt = 3 * sizeof(WORD);
    if (AData.size() < keyAt + sizeof(BlockKey))
        return false;
    WORD length = 0;
    std::memcpy(&length, AData.data(), sizeof(length));
    return length <= AData.size() &&
           std::memcmp(AData.data() + keyAt, BlockKey, sizeof(BlockKey)) == 0;
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
    // Each call of the version API loads the file as an image, which under
    // Wine takes longer for a large executable than all else the report reads
    // of it: a buffer that holds the largest 32-bit block spares the call that
    // asks for the size first. The wide queries need nothing of the room the
    // system would add for 8-bit ones.
    AData.assign(LargestBlock, 0);
    if (!::GetFileVersionInfoW(AFilename.c_str(), 0, static_cast<DWORD>(AData.size()),
                               AData.data()))
        return false;
    if (WholeWideBlock(AData))
        return true;
    // A 16-bit block is converted by the queries inside the room the system
    // asks for.
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
        LogUnexpected(error);
        return false;
    }
}

TVersionTexts ReadVersionTexts(const std::wstring& AFilename) {
    TVersionTexts texts;
    try {
        std::vector<std::uint8_t> data;
        if (LoadVersionInfo(AFilename, data)) {
            FindInVersionInfo(data, L"FileVersion", texts.FileVersion);
            FindInVersionInfo(data, L"ProductVersion", texts.ProductVersion);
        }
    } catch (const std::exception& error) {
        LogUnexpected(error);
        return {};
    }
    return texts;
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
