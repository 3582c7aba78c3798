// Replacing Live Protection files with alternative builds, with backups: the
// disk half of the alternative files, over the console's seam and its log.
// The window's part (the button, the progress, a close during the download)
// is TFormDERodos's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/ConsoleLog.h"
#include "app/ConsoleServices.h"
#include "download/MemoryStream.h"
#include "fileinfo/FileDigest.h"
#include "fileinfo/PEImage.h"

// Creates or overwrites APath with every byte of AStream and puts them on the
// disk; raises when it cannot, leaving no file at APath.
void WriteStreamToFile(const TMemoryStream& AStream, const std::wstring& APath);
// How a downloaded build reaches the disk: WriteStreamToFile, or a test's writer.
using TStreamWriter = std::function<void(const TMemoryStream&, const std::wstring&)>;

// What each Live Protection file is, by its role, as the loader tells them
// apart (SuitsKind; whether a driver is also marked a library is not looked
// at): a build of another kind never takes a file's place, whatever is
// installed there now.
inline constexpr std::array<TPEImageKind, 8> LiveProtectionFileKinds = {{
    {PEMachineAMD64, false, false}, // QVFSSvc.exe, a 64-bit program
    {PEMachineI386, true, false},   // QVHook32.dll, a 32-bit library
    {PEMachineAMD64, true, false},  // QVHook64.dll, a 64-bit library
    {PEMachineI386, false, true},   // QVHookDrv32.sys, a 32-bit driver
    {PEMachineAMD64, false, true},  // QVHookDrv64.sys, a 64-bit driver
    {PEMachineAMD64, false, false}, // QVHookHelper.exe, a 64-bit program
    {PEMachineI386, false, false},  // QVHookInst32.exe, a 32-bit program
    {PEMachineAMD64, false, false}, // QVHookInst64.exe, a 64-bit program
}};

// A build as written to the disk: its size and SHA-1.
struct TWrittenBuild {
    uint64_t Size = 0;
    TFileDigest Digest{};
    bool operator==(const TWrittenBuild&) const = default;
};
// The builds a press put in place, by file, to be looked at again at its end.
struct TReplacedBuild {
    size_t Index = 0;
    TWrittenBuild Build;
};
using TReplacedBuilds = std::vector<TReplacedBuild>;

// True when the file of AIndex has a backup afterwards.
bool BackupFile(TConsoleLog& ALog, size_t AIndex);
// Backs up, downloads and replaces the file of AIndex; puts the backup back
// when the old file went and no new one took its place, or another program
// took the new one away. Whatever fails is the file's own failure line: the
// next file is handled all the same. A build put in place is added to
// AReplaced, when given.
void ReplaceFile(TConsoleServices& AServices, TConsoleLog& ALog, const std::wstring& ABaseAddress,
                 size_t AIndex, const TStreamWriter& AWrite = WriteStreamToFile,
                 TReplacedBuilds* AReplaced = nullptr);
// Whether the builds a press put in place are still there; where another
// program took one away, the backup comes back, with a line that says so.
void CheckReplacedBuilds(TConsoleLog& ALog, const TReplacedBuilds& AReplaced);
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
// driver, library or program of the file's kind (ERROR_BAD_EXE_FORMAT):
// nothing is replaced.
inline constexpr int32_t DownloadNotAnImageCode = 193;

// What the lock of a folder's alternative files is named by: one press of
// the button per installation folder at a time, whatever window presses it.
inline constexpr const wchar_t* AlternativeFilesLockPurpose = L"DerodoAlternativeFiles";
