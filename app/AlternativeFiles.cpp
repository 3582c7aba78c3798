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
// place of one, which only DeleteFileOrLink can take away.
bool FileOrLinkExists(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (!(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                                                     (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
}

std::wstring BackupFilePath(size_t AIndex) {
    return ProgramFolder() + BackupFolderName + LiveProtectionFiles.at(AIndex);
}

[[noreturn]] void RaiseFileError(const wchar_t* AWhat, const std::wstring& APath, DWORD AError) {
    throw std::runtime_error(
        WideToUtf8(std::wstring(AWhat) + L" \"" + APath + L"\". " + SystemMessage(AError)));
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
    for (size_t index = FirstAlternativeFile; index < LiveProtectionFiles.size(); ++index)
        ReplaceFile(ABaseAddress, index);
    // The state test is not run: the report shows what the download changed.
    ReportInstallation();
}

bool TFormDERodos::BackupFile(size_t AIndex) {
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring backup = BackupFilePath(AIndex);
    // A backup is made once, before the first replacement, and never refreshed.
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
    if (::CopyFileW(installed.c_str(), backup.c_str(), TRUE)) {
        LogSuccess(L"Backup for " + name + L" created.");
        return true;
    }
    const DWORD error = ::GetLastError();
    LogFailure(L"Backup for " + name + L" failed: " + SystemMessage(error));
    return false;
}

void TFormDERodos::ReplaceFile(const std::wstring& ABaseAddress, size_t AIndex) {
    if (!BackupFile(AIndex))
        return;
    const std::wstring name = LiveProtectionFiles.at(AIndex);
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    // Set while the old file is gone and no new one has taken its place.
    bool restore = false;
    std::exception_ptr error;
    try {
        TMemoryStream stream;
        int32_t code = 0;
        if (!FServices.DownloadToStream(ABaseAddress + name, stream, code) ||
            !IsWholeImage(stream, code)) {
            LogFailure(L"Unable to download: " + std::to_wstring(code));
        } else {
            stream.SetPosition(0);
            if (FileOrLinkExists(installed) && DeleteFileOrLink(installed))
                restore = true;
            // A deletion can report success and leave the file in place (it
            // goes when its last user closes it): that is no place to write to.
            if (FileOrLinkExists(installed)) {
                LogFailure(L"Unable to delete for replacement: " + installed);
            } else {
                WriteStreamToFile(stream, installed);
                if (FileOrLinkExists(installed))
                    restore = false;
            }
        }
    } catch (...) {
        // The stream is released by now; the old file comes back before the
        // error goes on and ends the run.
        error = std::current_exception();
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
    const std::wstring installed = LiveProtectionFilePath(AIndex);
    if (FileOrLinkExists(installed) && !DeleteFileOrLink(installed)) {
        const DWORD error = ::GetLastError();
        LogFailure(L"Could not delete file " + name + L": " + SystemMessage(error));
        return false;
    }
    // The backup stays where it is, whatever happens here.
    if (::CopyFileW(backup.c_str(), installed.c_str(), TRUE)) {
        LogSuccess(L"Backup for " + name + L" restore.");
        return true;
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
    const std::string& bytes = AStream.Bytes();
    size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1 << 20));
        DWORD done = 0;
        if (!::WriteFile(file.get(), bytes.data() + written, chunk, &done, nullptr))
            RaiseFileError(L"Cannot write file", APath, ::GetLastError());
        if (done == 0)
            RaiseFileError(L"Cannot write file", APath, ERROR_WRITE_FAULT);
        written += done;
    }
}
