// The file version and product version texts of an executable, from its
// version resource, through the platform's version API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The file's "FileVersion" / "ProductVersion", empty when none is found.
std::wstring ReadFileVersion(const std::wstring& AFilename);
std::wstring ReadProductVersion(const std::wstring& AFilename);

// Both texts from one read of the file's version block, each as its own
// reader gives it: a file is opened once, not four times.
struct TVersionTexts {
    std::wstring FileVersion;
    std::wstring ProductVersion;
};
TVersionTexts ReadVersionTexts(const std::wstring& AFilename);
// True and the text when found; false and an empty text otherwise.
bool TryReadFileVersion(const std::wstring& AFilename, std::wstring& AText);
bool TryReadProductVersion(const std::wstring& AFilename, std::wstring& AText);
// The first non-empty value AValueName of the file's translations, in the
// order stored. AText is left as it was when nothing is found.
bool ReadVersionString(const std::wstring& AFilename, const std::wstring& AValueName,
                       std::wstring& AText);

// The file's whole version information block; false when it has none or it
// cannot be read. One read of the file where the block is of the 32-bit kind.
bool LoadVersionInfo(const std::wstring& AFilename, std::vector<std::uint8_t>& AData);
// "\\StringFileInfo\\" + language + code page + "\\" + value name, each
// separator written twice, language and code page as four upper-case
// hexadecimal digits each.
std::wstring VersionStringPath(std::uint16_t ALanguage, std::uint16_t ACodePage,
                               const std::wstring& AValueName);

// A string value as the version API hands it over: the text up to its first
// zero, never past ALength characters (the length the API returned), for a
// value stored without its terminator.
std::wstring VersionValueText(const wchar_t* AText, std::size_t ALength);
