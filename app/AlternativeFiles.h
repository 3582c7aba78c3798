// Replacing Live Protection files with alternative builds, with backups: the
// disk half of the alternative files, over the console's seam and its log.
// The window's part (the button, the progress, a close during the download)
// is TFormDERodos's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "app/ConsoleLog.h"
#include "app/ConsoleServices.h"
#include "download/MemoryStream.h"

// Creates or overwrites APath with every byte of AStream and puts them on the
// disk; raises when it cannot, leaving no file at APath.
void WriteStreamToFile(const TMemoryStream& AStream, const std::wstring& APath);
// How a downloaded build reaches the disk: WriteStreamToFile, or a test's writer.
using TStreamWriter = std::function<void(const TMemoryStream&, const std::wstring&)>;

// True when the file of AIndex has a backup afterwards.
bool BackupFile(TConsoleLog& ALog, size_t AIndex);
// Backs up, downloads and replaces the file of AIndex; puts the backup back
// when the old file went and no new one took its place. An error raised on
// the way passes on after that.
void ReplaceFile(TConsoleServices& AServices, TConsoleLog& ALog, const std::wstring& ABaseAddress,
                 size_t AIndex, const TStreamWriter& AWrite = WriteStreamToFile);
// True when the backup of the file of AIndex was copied back.
bool RestoreBackup(TConsoleLog& ALog, size_t AIndex);

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
