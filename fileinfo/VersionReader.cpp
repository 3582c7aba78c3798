#include "VersionReader.h"

#include <windows.h>

#include <exception>

#include "DebugLogger.h"
#include "VersionBlock.h"

namespace {

// The block is walked by our own reader, not the version API, so that the
// walk over bytes from the file is the fuzzed one.
bool FindVersionString(const std::wstring& AFilename, const std::wstring& AValueName,
                       std::wstring& AText) {
    std::vector<std::uint8_t> data;
    if (!LoadVersionInfo(AFilename, data))
        return false;
    return FirstVersionString(data, AValueName, AText);
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
    return L"\\\\StringFileInfo\\\\" + VersionTableKey({ALanguage, ACodePage}) + L"\\\\" +
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
