// Files for the tests of every subsystem: a scratch folder per test, removed
// with everything in it, and the fixtures built beside the test programs.
#pragma once

#include <string>
#include <string_view>

#include "platform/Handles.h"

// An empty folder of the test's own in the temporary folder. At the end it
// goes with everything in it, as far as nothing in it is still in use (a
// library loaded or a program running from it stays).
class TScratchFolder {
public:
    TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    ~TScratchFolder();

    // The folder, with its trailing "\".
    const std::wstring& Path() const { return FPath; }
    // Writes AContent into the file AName of the folder; returns its path.
    std::wstring Write(const std::wstring& AName, std::string_view AContent) const;
    // Copies AFrom into the folder as AName; returns the new path.
    std::wstring Copy(const std::wstring& AFrom, const std::wstring& AName) const;
    // Copies the fixture AFixture (its path below the bin folder) into the
    // folder as AName; returns the new path.
    std::wstring CopyFixture(const std::wstring& AFixture, const std::wstring& AName) const;

private:
    std::wstring FPath;
};

// A file built beside the test programs, by its path below the bin folder.
std::wstring FixturePath(const std::wstring& ARelative);
// Whether anything (a file, a folder, a link) is at APath.
bool Exists(const std::wstring& APath);
// The whole content of a file, empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& APath);
// Creates or overwrites APath with AContent; raises when it cannot.
void WriteWholeFile(const std::wstring& APath, std::string_view AContent);
// APath mapped as the loader maps a program or library it runs: a view of
// its image section, which stays when the file's own handle is closed. While
// it is held, the file cannot be deleted. An empty view when it cannot be.
TMappedView MapAsImage(const std::wstring& APath);
