// Where the running executable lives. Every product file is addressed as the
// program folder followed by its bare name.
#pragma once

#include <string>

// Full path of the running executable.
std::wstring ProgramFileName();
// Folder of the running executable, with its trailing "\".
std::wstring ProgramFolder();
// The folder part of a path, up to and including its last "\" (empty without one).
std::wstring ExtractFilePath(const std::wstring& path);
// The path with a "\" appended unless it already ends in one.
std::wstring IncludeTrailingPathDelimiter(const std::wstring& path);
// Whether a file (not a folder) exists at the path.
bool FileExists(const std::wstring& path);
// The full path of a path (GetFullPathNameW); false, with its last error, when
// it has none.
bool FullPathName(const wchar_t* path, std::wstring& fullPath);
// The name part of a path: the text after its last "\" or ":".
std::wstring ExtractFileName(const std::wstring& path);
