// Replacing Live Protection files with alternative builds, with backups. The
// window's operations (the button, the download, backup, replacement and
// restore) are members of TFormDERodos; the routines here stand alone.
#pragma once

#include <cstdint>
#include <string>

// Deletes the file at APath, or removes the directory link or junction there
// (not the folder it points to). On failure the thread's last error is the
// deletion's, so the caller's message describes it.
bool DeleteFileOrLink(const std::wstring& APath);

// The folder of the alternative files on the download server AHost, ending in "/".
std::wstring AlternativeFilesBaseAddress(const std::wstring& AHost);

// The folder below the program folder where the installed files are kept
// before their first replacement.
inline constexpr const wchar_t* BackupFolderName = L"LPBackup\\";

// The code "Unable to download: %d" shows for a download that is not a whole
// driver, library or program (ERROR_BAD_EXE_FORMAT): nothing is replaced.
inline constexpr int32_t DownloadNotAnImageCode = 193;
