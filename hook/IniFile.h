// An INI file read and written through the system's profile functions.
#pragma once

#include <string>

class TIniFile {
public:
    // A relative name is taken relative to the current folder (the profile
    // functions alone would look for it in the Windows folder).
    explicit TIniFile(const std::wstring& AFileName);

    const std::wstring& FileName() const { return FFileName; }

    // ADefault when the file, the section or the key is missing.
    std::wstring ReadString(const std::wstring& ASection, const std::wstring& AKey,
                            const std::wstring& ADefault) const;
    // Writes through to the file; raises std::system_error when it cannot.
    // A new file is made UTF-16 so that no text is lost to the ANSI code page.
    void WriteString(const std::wstring& ASection, const std::wstring& AKey,
                     const std::wstring& AValue);

private:
    std::wstring FFileName;
    unsigned long FNameError = 0; // why the name could not be resolved
};
