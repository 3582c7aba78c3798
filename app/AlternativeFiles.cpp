#include "app/AlternativeFiles.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "app/LiveProtectionFiles.h"
#include "diagnostics/Translate.h"
#include "fileinfo/PEImage.h"
#include "hook/DirectActivation.h"
#include "platform/FileHolders.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/SystemMessage.h"
#include "platform/WholeOrNothing.h"
#include "platform/WinText.h"

namespace {

bool FileOrLinkExists(const std::wstring& APath) {
    return PathState(APath) != TPathState::psAbsent;
}

std::wstring BackupFilePath(size_t AIndex) {
    return ProgramFolder() + BackupFolderName + LiveProtectionFiles.at(AIndex);
}

[[noreturn]] void RaiseFileError(const wchar_t* AWhat, const std::wstring& APath, DWORD AError) {
    throw std::runtime_error(
        WideToUtf8(std::wstring(AWhat) + L" \"" + APath + L"\". " + SystemMessage(AError)));
}

// After a step another program's hold refused past the wait: which programs
// hold the files of APaths, where the system can name them. It names none
// under Wine, and none for a holder that has let go by now.
void LogHolders(TConsoleLog& ALog, std::initializer_list<std::wstring> APaths, DWORD AError) {
    if (!IsHeldFileError(AError))
        return;
    std::vector<unsigned long> named;
    for (const std::wstring& path : APaths) {
        for (const TFileHolder& holder : FileHolders(path)) {
            if (std::find(named.begin(), named.end(), holder.ProcessId) != named.end())
                continue;
            named.push_back(holder.ProcessId);
            ALog.LogInfo(FormatCodeMessage(Translate(L"Process %d (%s) holds the file open."),
                                           static_cast<int32_t>(holder.ProcessId), holder.Name));
        }
    }
}

// The line after "Unable to delete for replacement: %s": why the old file
// could not go, in the user's language.
std::wstring RefusalReason(TSwapOutcome AOutcome, DWORD AError) {
    const wchar_t* format = L"The system refused the deletion; error code is %d (%s).";
    if (AOutcome == TSwapOutcome::soReadOnly)
        format = L"The system refused the deletion; error code is %d (%s): the file is read-only.";
    // A file that is not read-only and cannot be deleted, though no handle
    // stood in the way, is mapped as an image: loaded by a running program
    // or as a driver. Windows and Wine both refuse its deletion with
    // ERROR_ACCESS_DENIED.
    else if (AOutcome == TSwapOutcome::soUndeletable && AError == ERROR_ACCESS_DENIED)
        format = L"The system refused the deletion; error code is %d (%s): a running program or "
                 L"driver has the file loaded.";
    else if (AOutcome == TSwapOutcome::soKept && AError == ERROR_SHARING_VIOLATION)
        format = L"The system refused the deletion; error code is %d (%s): another program holds "
                 L"the file open.";
    return FormatCodeMessage(Translate(format), static_cast<int32_t>(AError),
                             SystemMessage(AError));
}

// Whether the file at APath holds a whole image, read in place.
bool IsWholeImageFile(const std::wstring& APath) {
    // No one writes to it while it is looked at.
    const TFileHandle file = OpenUnheldFile(APath, GENERIC_READ, FILE_SHARE_READ);
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
        return false;
    TKernelHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    TMappedView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    return view && IsCompletePEImage(std::string_view(static_cast<const char*>(view.get()),
                                                      static_cast<size_t>(size.QuadPart)));
}

// What a run ended half-way left of the swap of the file of AIndex: a
// backup copy cut short, a copy of the new file or of the backup, the old
// file under the name it left for.
void FinishInterruptedSwap(size_t AIndex) {
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    const std::wstring partial = PartialPath(installed);
    // Never complete, never used.
    DiscardLeftoverFile(PartialPath(BackupFilePath(AIndex)));
    DiscardReplacedFiles(installed);
    // The new file is whole on the disk before the old one leaves its name,
    // and the backup is made before either: an empty installed path beside a
    // whole partial file is a swap that a kill ended half-way, and the new
    // file takes its place. Any other partial file is a copy cut short.
    if (PathState(installed) == TPathState::psAbsent &&
        PathState(BackupFilePath(AIndex)) == TPathState::psPresent && IsWholeImageFile(partial))
        MovePartialFileIntoPlace(installed);
    else
        DiscardLeftoverFile(partial);
}

static_assert(DownloadNotAnImageCode == ERROR_BAD_EXE_FORMAT);

// Every alternative file is a driver, library or program of the kind its
// role makes it: a download that is not a whole image (empty, cut short, an
// error page, with bytes after it) never takes the place of an installed
// file, nor one of another kind (for another machine, a program for a
// library or a driver). What is installed now does not count: it may be
// unreadable for the moment, or itself of the wrong kind.
bool IsReplacementImage(const TMemoryStream& AStream, size_t AIndex, int32_t& AErrorCode) {
    if (CheckReplacementImage(AStream.Bytes(), LiveProtectionFileKinds.at(AIndex)) ==
        TPEImageFault::pifNone)
        return true;
    AErrorCode = DownloadNotAnImageCode;
    return false;
}

TWrittenBuild BuildOf(std::string_view ABytes) {
    TSha1 sha1;
    sha1.Update(ABytes.data(), ABytes.size());
    return {ABytes.size(), sha1.Finish()};
}

// Whether APath holds ABuild. Only a path that is empty, or holds other
// bytes, is known to have lost it: a file another program holds past the
// wait may still be the build, and is left as it is.
bool HoldsBuild(const std::wstring& APath, const TWrittenBuild& ABuild) {
    TSha1 sha1;
    uint64_t size = 0;
    const DWORD error = ReadUnheldFile(APath, [&](std::string_view AChunk) {
        sha1.Update(AChunk.data(), AChunk.size());
        size += AChunk.size();
    });
    if (error != 0)
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    return TWrittenBuild{size, sha1.Finish()} == ABuild;
}

void LogRemovedBuild(TConsoleLog& ALog, size_t AIndex) {
    ALog.LogFailure(L"The new build of " + std::wstring(LiveProtectionFiles.at(AIndex)) +
                    L" was removed by another program.");
}

} // namespace

bool DeleteFileOrLink(const std::wstring& APath) {
    if (::DeleteFileW(APath.c_str()))
        return true;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    constexpr DWORD directoryLink = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & directoryLink) == directoryLink)
        return ::RemoveDirectoryW(APath.c_str()) != FALSE;
    ::SetLastError(error);
    return false;
}

std::wstring AlternativeFilesBaseAddress(const std::wstring& AHost) {
    return L"https://" + AHost + L"/Vexlo2/special-purpose-test-versions/RodeVadudazovi/files-2.7/";
}

bool BackupFile(TConsoleLog& ALog, size_t AIndex) {
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring backup = BackupFilePath(AIndex);
    // A backup is made once, before the first replacement, and never
    // refreshed. It only ever appears whole, so one that is there is complete.
    // One that cannot be looked at is not known to be there: nothing is
    // replaced without it.
    const TPathState backupState = PathState(backup);
    if (backupState == TPathState::psPresent) {
        ALog.LogInfo(L"Backup for " + name + L" exists.");
        return true;
    }
    if (backupState == TPathState::psUnknown) {
        const DWORD error = ::GetLastError();
        ALog.LogFailure(L"Backup for " + name + L" failed: " + SystemMessage(error));
        return false;
    }
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    if (PathState(installed) == TPathState::psAbsent) {
        ALog.LogFailure(L"File " + name + L" missing, cannot create backup.");
        return false;
    }
    // A folder that cannot be made shows in the copy's error.
    std::error_code ignored;
    std::filesystem::create_directories(ProgramFolder() + BackupFolderName, ignored);
    if (CopyToPartialFile(installed, backup) && MovePartialFileIntoPlace(backup)) {
        ALog.LogSuccess(L"Backup for " + name + L" created.");
        return true;
    }
    const DWORD error = ::GetLastError();
    ALog.LogFailure(L"Backup for " + name + L" failed: " + SystemMessage(error));
    LogHolders(ALog, {installed, PartialPath(backup)}, error);
    return false;
}

void ReplaceFile(TConsoleServices& AServices, TConsoleLog& ALog, const std::wstring& ABaseAddress,
                 size_t AIndex, const TStreamWriter& AWrite, TReplacedBuilds* AReplaced) {
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    const std::wstring partial = PartialPath(installed);
    FinishInterruptedSwap(AIndex);
    if (!BackupFile(ALog, AIndex))
        return;
    // Set while no file has the installed name. A run ended before the new
    // file was whole leaves the path empty beside a complete backup: the file
    // comes back unless a new one takes its place.
    bool restore = !FileOrLinkExists(installed);
    const auto failed = [&](const std::wstring& AWhy) {
        ALog.LogFailure(L"Replacing " + name + L" failed: " + AWhy);
    };
    try {
        TMemoryStream stream;
        int32_t code = 0;
        if (!AServices.DownloadToStream(ABaseAddress + name, stream, code) ||
            !IsReplacementImage(stream, AIndex, code)) {
            ALog.LogFailure(L"Unable to download: " + std::to_wstring(code));
        } else {
            stream.SetPosition(0);
            // The new file is whole on the disk before the old one is touched.
            AWrite(stream, partial);
            const TWrittenBuild build = BuildOf(stream.Bytes());
            const TSwapOutcome outcome = SwapInPartialFile(installed);
            const DWORD swapError = ::GetLastError();
            switch (outcome) {
            case TSwapOutcome::soSwapped:
                restore = false;
                // A scanner may take a new file away as soon as it appears.
                if (!HoldsBuild(installed, build)) {
                    LogRemovedBuild(ALog, AIndex);
                    restore = true;
                } else if (AReplaced) {
                    AReplaced->push_back({AIndex, build});
                }
                break;
            case TSwapOutcome::soKept:
            case TSwapOutcome::soReadOnly:
            case TSwapOutcome::soUndeletable:
                ALog.LogFailure(L"Unable to delete for replacement: " + installed);
                ALog.LogInfo(RefusalReason(outcome, swapError));
                LogHolders(ALog, {installed}, swapError);
                break;
            case TSwapOutcome::soEmpty:
                restore = true;
                [[fallthrough]];
            case TSwapOutcome::soNotMoved:
                failed(SystemMessage(swapError));
                LogHolders(ALog, {partial, installed}, swapError);
                break;
            }
        }
    } catch (const std::exception& error) {
        failed(Utf8ToWide(error.what()));
        DiscardLeftoverFile(partial);
    } catch (...) {
        failed(L"an unknown error");
        DiscardLeftoverFile(partial);
    }
    if (restore)
        RestoreBackup(ALog, AIndex);
}

void CheckReplacedBuilds(TConsoleLog& ALog, const TReplacedBuilds& AReplaced) {
    for (const TReplacedBuild& replaced : AReplaced) {
        if (HoldsBuild(LiveProtectionFilePath(replaced.Index), replaced.Build))
            continue;
        LogRemovedBuild(ALog, replaced.Index);
        RestoreBackup(ALog, replaced.Index);
    }
}

bool RestoreBackup(TConsoleLog& ALog, size_t AIndex) {
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring backup = BackupFilePath(AIndex);
    if (PathState(backup) == TPathState::psAbsent) {
        ALog.LogFailure(L"Backup for " + name + L" missing!");
        return false;
    }
    // The copy is complete before the installed file goes; the backup stays
    // where it is, whatever happens here.
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    if (CopyToPartialFile(backup, installed)) {
        const TSwapOutcome outcome = SwapInPartialFile(installed);
        if (outcome == TSwapOutcome::soSwapped) {
            ALog.LogSuccess(L"Backup for " + name + L" restore.");
            return true;
        }
        if (outcome == TSwapOutcome::soKept || outcome == TSwapOutcome::soReadOnly ||
            outcome == TSwapOutcome::soUndeletable) {
            const DWORD error = ::GetLastError();
            ALog.LogFailure(L"Could not delete file " + name + L": " + SystemMessage(error));
            LogHolders(ALog, {installed}, error);
            return false;
        }
    }
    const DWORD error = ::GetLastError();
    ALog.LogFailure(L"Backup restoration for " + name + L" failed: " + SystemMessage(error));
    LogHolders(ALog, {backup, PartialPath(installed)}, error);
    return false;
}

void WriteStreamToFile(const TMemoryStream& AStream, const std::wstring& APath) {
    if (const DWORD error = WriteFlushedFile(APath, AStream.Bytes()))
        RaiseFileError(L"Cannot write file", APath, error);
}
