#include "AlternativeFiles.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "FormDERodos.h"
#include "LiveProtectionFiles.h"
#include "PEImage.h"
#include "ProgramPath.h"
#include "SystemMessage.h"
#include "WinText.h"

namespace {

// Something that is not a plain folder is there: a file, or a link in the
// place of one, which only a deletion of the link itself can take away.
bool FileOrLinkExists(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (!(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                                                     (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
}

std::wstring BackupFilePath(size_t AIndex) {
    return ProgramFolder() + BackupFolderName + LiveProtectionFiles.at(AIndex);
}

// A file is made complete under this name and only then renamed to APath, so
// that a file at APath is always whole: a kill or a power loss leaves at most
// a partial file, which the next run clears.
std::wstring PartialPath(const std::wstring& APath) {
    return APath + L".partial";
}

[[noreturn]] void RaiseFileError(const wchar_t* AWhat, const std::wstring& APath, DWORD AError) {
    throw std::runtime_error(
        WideToUtf8(std::wstring(AWhat) + L" \"" + APath + L"\". " + SystemMessage(AError)));
}

// A partial copy of a read-only file is read-only too, and would otherwise
// stay in the way of every later copy.
void DiscardPartialFile(const std::wstring& APartial) {
    const TLastErrorKeeper keeper;
    ::SetFileAttributesW(APartial.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(APartial.c_str());
}

// Writes the file's bytes to the disk, also those of a read-only copy.
bool FlushFile(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly && !::SetFileAttributesW(APath.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool flushed = file && ::FlushFileBuffers(file.get());
    file.reset();
    if (readOnly && !::SetFileAttributesW(APath.c_str(), attributes))
        return false;
    return flushed;
}

// Copies ASource to the partial name of ATarget and puts its bytes on the
// disk. On failure nothing is left and the thread's last error is the
// failed step's.
bool CopyToPartialFile(const std::wstring& ASource, const std::wstring& ATarget) {
    const std::wstring partial = PartialPath(ATarget);
    if (::CopyFileW(ASource.c_str(), partial.c_str(), FALSE) && FlushFile(partial))
        return true;
    DiscardPartialFile(partial);
    return false;
}

// Gives the complete partial file of ATarget its name, never over a file that
// is there. The rename is the one step that makes the file appear, whole.
bool MovePartialFileIntoPlace(const std::wstring& ATarget) {
    const std::wstring partial = PartialPath(ATarget);
    if (::MoveFileExW(partial.c_str(), ATarget.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    DiscardPartialFile(partial);
    return false;
}

// Removes the file or link at APath only when no one else has it open.
// DeleteFileW of a file that another process holds with delete sharing
// answers success and leaves it in place until that process closes it, so the
// file would vanish later, beyond any restore. Opening it first without any
// sharing fails at once while it is held (ERROR_SHARING_VIOLATION is then the
// last error); once it is open that way, its deletion is done when the
// handle closes.
bool DeleteUnheldFile(const std::wstring& APath) {
    TFileHandle file(::CreateFileW(APath.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                   nullptr));
    if (!file)
        return false;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                        sizeof(disposition)) != FALSE;
}

static_assert(DownloadNotAnImageCode == ERROR_BAD_EXE_FORMAT);

// Every alternative file is a driver, library or program: a download that is
// not a whole image (empty, cut short, an error page) never takes the place
// of an installed file.
bool IsWholeImage(const TMemoryStream& AStream, int32_t& AErrorCode) {
    if (IsCompletePEImage(AStream.Bytes()))
        return true;
    AErrorCode = DownloadNotAnImageCode;
    return false;
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

void TFormDERodos::BindAlternativeFilesAction() {
    Bind(TActionId::aDownload27Files, &TFormDERodos::aDownload27FilesExecute);
}

void TFormDERodos::aDownload27FilesExecute(const TAction&) {
    DownloadAlternativeFiles(FDownloadBaseAddress);
}

void TFormDERodos::DownloadAlternativeFiles(const std::wstring& ABaseAddress) {
    LogSection(L"File Download");
    LogInfo(ABaseAddress);
    for (size_t index = FirstAlternativeFile; index < LiveProtectionFiles.size(); ++index) {
        ReplaceFile(ABaseAddress, index);
        // The window is closing: no further file is touched.
        if (FCloseAfterAction)
            return;
    }
    // The state test is not run: the report shows what the download changed.
    ReportInstallation();
}

bool TFormDERodos::BackupFile(size_t AIndex) {
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring backup = BackupFilePath(AIndex);
    // A backup is made once, before the first replacement, and never
    // refreshed. It only ever appears whole, so one that is there is complete.
    if (FileOrLinkExists(backup)) {
        LogInfo(L"Backup for " + name + L" exists.");
        return true;
    }
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    if (!FileOrLinkExists(installed)) {
        LogFailure(L"File " + name + L" missing, cannot create backup.");
        return false;
    }
    // A folder that cannot be made shows in the copy's error.
    std::error_code ignored;
    std::filesystem::create_directories(ProgramFolder() + BackupFolderName, ignored);
    if (CopyToPartialFile(installed, backup) && MovePartialFileIntoPlace(backup)) {
        LogSuccess(L"Backup for " + name + L" created.");
        return true;
    }
    const DWORD error = ::GetLastError();
    LogFailure(L"Backup for " + name + L" failed: " + SystemMessage(error));
    return false;
}

void TFormDERodos::ReplaceFile(const std::wstring& ABaseAddress, size_t AIndex) {
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    const std::wstring partial = PartialPath(installed);
    // What an interrupted run may have left: never complete, never used.
    DiscardPartialFile(PartialPath(BackupFilePath(AIndex)));
    DiscardPartialFile(partial);
    if (!BackupFile(AIndex))
        return;
    // Set while the old file is gone and no new one has taken its place. A
    // run ended between the two leaves the installed path empty beside a
    // complete backup: the file comes back unless a new one takes its place.
    bool restore = !FileOrLinkExists(installed);
    std::exception_ptr error;
    try {
        TMemoryStream stream;
        int32_t code = 0;
        if (!FServices.DownloadToStream(ABaseAddress + name, stream, code) ||
            !IsWholeImage(stream, code)) {
            LogFailure(L"Unable to download: " + std::to_wstring(code));
        } else {
            stream.SetPosition(0);
            // The new file is whole on the disk before the old one is touched.
            WriteStreamToFile(stream, partial);
            if (FileOrLinkExists(installed) && DeleteUnheldFile(installed))
                restore = true;
            if (FileOrLinkExists(installed)) {
                DiscardPartialFile(partial);
                LogFailure(L"Unable to delete for replacement: " + installed);
            } else if (MovePartialFileIntoPlace(installed)) {
                restore = false;
            } else {
                RaiseFileError(L"Cannot replace file", installed, ::GetLastError());
            }
        }
    } catch (...) {
        // The stream is released by now; the old file comes back before the
        // error goes on and ends the run.
        error = std::current_exception();
        DiscardPartialFile(partial);
    }
    if (restore)
        RestoreBackup(AIndex);
    if (error)
        std::rethrow_exception(error);
}

bool TFormDERodos::RestoreBackup(size_t AIndex) {
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring backup = BackupFilePath(AIndex);
    if (!FileOrLinkExists(backup)) {
        LogFailure(L"Backup for " + name + L" missing!");
        return false;
    }
    // The copy is complete before the installed file goes; the backup stays
    // where it is, whatever happens here.
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    if (CopyToPartialFile(backup, installed)) {
        if (FileOrLinkExists(installed) && !DeleteUnheldFile(installed)) {
            const DWORD error = ::GetLastError();
            DiscardPartialFile(PartialPath(installed));
            LogFailure(L"Could not delete file " + name + L": " + SystemMessage(error));
            return false;
        }
        if (MovePartialFileIntoPlace(installed)) {
            LogSuccess(L"Backup for " + name + L" restore.");
            return true;
        }
    }
    const DWORD error = ::GetLastError();
    LogFailure(L"Backup restoration for " + name + L" failed: " + SystemMessage(error));
    return false;
}

void TFormDERodos::WriteStreamToFile(const TMemoryStream& AStream, const std::wstring& APath) {
    TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        RaiseFileError(L"Cannot create file", APath, ::GetLastError());
    // A file that is not whole on the disk does not stay.
    const auto fail = [&](DWORD AError) {
        file.reset();
        DiscardPartialFile(APath);
        RaiseFileError(L"Cannot write file", APath, AError);
    };
    const std::string& bytes = AStream.Bytes();
    size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1 << 20));
        DWORD done = 0;
        if (!::WriteFile(file.get(), bytes.data() + written, chunk, &done, nullptr))
            fail(::GetLastError());
        if (done == 0)
            fail(ERROR_WRITE_FAULT);
        written += done;
    }
    if (!::FlushFileBuffers(file.get()))
        fail(::GetLastError());
}
