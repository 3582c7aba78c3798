#include "app/AlternativeFiles.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <exception>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "app/LiveProtectionFiles.h"
#include "diagnostics/Translate.h"
#include "fileinfo/PEImage.h"
#include "hook/DirectActivation.h"
#include "platform/HandleIO.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/SystemMessage.h"
#include "platform/WinText.h"

namespace {

// What is at a path: a file or a link in the place of one, nothing (not even
// the folder above it), or no answer. Only the first two are known: a name
// whose deletion is pending answers ERROR_ACCESS_DENIED on Windows, and a
// file there may be unreadable for many reasons; none of them makes it absent.
// After psUnknown the thread's last error says why.
enum class TPathState { psAbsent, psPresent, psUnknown };

TPathState PathState(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? TPathState::psAbsent
                   : TPathState::psUnknown;
    }
    // A plain folder is no file; a link to one is, for only a deletion of
    // the link itself can take it away.
    const bool plainFolder =
        (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    return plainFolder ? TPathState::psAbsent : TPathState::psPresent;
}

bool FileOrLinkExists(const std::wstring& APath) {
    return PathState(APath) != TPathState::psAbsent;
}

std::wstring BackupFilePath(size_t AIndex) {
    return ProgramFolder() + BackupFolderName + LiveProtectionFiles.at(AIndex);
}

// A file is made complete under this name and only then renamed to APath, so
// that a file at APath is always whole: a kill or a power loss leaves at most
// a partial file, which the next run clears, or completes the swap with when
// it is whole and the old file has already gone.
std::wstring PartialPath(const std::wstring& APath) {
    return APath + L".partial";
}

// The old file leaves its name for one of its own beside it, APath + "." +
// a mark of the swap + ".replaced", until it is deleted; one a kill left
// behind is cleared by the next run. A name of its own for each swap: an old
// file whose deletion waits for another program to let go keeps its name
// until then.
constexpr const wchar_t* ReplacedSuffix = L".replaced";

std::wstring ReplacedPath(const std::wstring& APath) {
    static std::atomic<unsigned> swaps{0};
    wchar_t mark[40] = {};
    std::swprintf(mark, std::size(mark), L".%lx-%llx-%x", ::GetCurrentProcessId(),
                  static_cast<unsigned long long>(::GetTickCount64()), swaps++);
    return APath + mark + ReplacedSuffix;
}

[[noreturn]] void RaiseFileError(const wchar_t* AWhat, const std::wstring& APath, DWORD AError) {
    throw std::runtime_error(
        WideToUtf8(std::wstring(AWhat) + L" \"" + APath + L"\". " + SystemMessage(AError)));
}

// A partial copy of a read-only file is read-only too, and would otherwise
// stay in the way of every later copy.
void DiscardLeftoverFile(const std::wstring& APath) {
    const TLastErrorKeeper keeper;
    ::SetFileAttributesW(APath.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(APath.c_str());
}

// Clears the old files that swaps of APath took out of its name and a kill
// kept from being deleted. One that another program still holds goes when it
// lets go, or at a later run.
void DiscardReplacedFiles(const std::wstring& APath) {
    const std::wstring folder = APath.substr(0, APath.find_last_of(L'\\') + 1);
    const std::wstring prefix = ExtractFileName(APath) + L".";
    const std::wstring suffix = ReplacedSuffix;
    WIN32_FIND_DATAW found{};
    TFindHandle search(::FindFirstFileW((APath + L".*" + suffix).c_str(), &found));
    for (bool more = static_cast<bool>(search); more;
         more = ::FindNextFileW(search.get(), &found) != FALSE) {
        // The pattern also meets short names; only a name of our making is ours.
        const std::wstring name = found.cFileName;
        if (name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
            name.ends_with(suffix))
            DiscardLeftoverFile(folder + name);
    }
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
    DiscardLeftoverFile(partial);
    return false;
}

// Gives the complete partial file of ATarget its name, never over a file that
// is there. The rename is the one step that makes the file appear, whole.
bool MovePartialFileIntoPlace(const std::wstring& ATarget) {
    const std::wstring partial = PartialPath(ATarget);
    if (::MoveFileExW(partial.c_str(), ATarget.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    DiscardLeftoverFile(partial);
    return false;
}

// Gives the open file AFile the full path ANewPath, never over a file there.
bool RenameOpenFile(HANDLE AFile, const std::wstring& ANewPath) {
    const size_t nameBytes = ANewPath.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes +
                                  sizeof(wchar_t));
    FILE_RENAME_INFO info{};
    info.ReplaceIfExists = FALSE;
    info.RootDirectory = nullptr;
    info.FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(buffer.data(), &info, offsetof(FILE_RENAME_INFO, FileName));
    std::memcpy(buffer.data() + offsetof(FILE_RENAME_INFO, FileName), ANewPath.c_str(),
                nameBytes + sizeof(wchar_t));
    return ::SetFileInformationByHandle(AFile, FileRenameInfo, buffer.data(),
                                        static_cast<DWORD>(buffer.size())) != FALSE;
}

bool SetDeleteOnClose(HANDLE AFile, bool ADelete) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = ADelete ? TRUE : FALSE;
    return ::SetFileInformationByHandle(AFile, FileDispositionInfo, &disposition,
                                        sizeof(disposition)) != FALSE;
}

// How putting the complete partial file of a path in the place of the file
// there ended. Where the old file stays, the thread's last error says why.
enum class TSwapOutcome {
    soSwapped,     // the new file has the name; the old one is gone, or goes once unheld
    soKept,        // another program has the old file open, or it cannot leave its name:
                   // nothing changed
    soUndeletable, // the old file cannot be deleted (loaded as an image, read-only): nothing
                   // changed
    soNotMoved,    // the new file did not take the name; the old one has it again
    soEmpty,       // the new file did not take the name, and nothing has it
};

// Puts the complete partial file of ATarget in the place of the file or link
// there, or at the empty path, and deletes the old one.
//
// The old file is opened first without any sharing, which fails at once
// while another program has it open for its data (ERROR_SHARING_VIOLATION):
// its deletion would otherwise wait for that program and take the file away
// later, beyond any restore. A handle without data access (Explorer, indexers
// and scanners hold such ones) does not stand in the way of that open, and a
// deletion then waits for it as well: under Wine the name stays taken until
// it closes, on Windows the name answers ERROR_ACCESS_DENIED meanwhile. So
// the old file leaves its name by a rename through the open handle, which
// frees the name at once on both, and is deleted under its new name.
//
// A file loaded as an image (a running program, a library mapped anywhere, a
// loaded driver) can be opened so, and renamed on Windows, but not deleted:
// its deletion is asked for and withdrawn before anything is renamed, so such
// a file stays where it is.
TSwapOutcome SwapInPartialFile(const std::wstring& ATarget) {
    TFileHandle old(::CreateFileW(ATarget.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
    if (!old) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return TSwapOutcome::soKept;
        return MovePartialFileIntoPlace(ATarget) ? TSwapOutcome::soSwapped : TSwapOutcome::soEmpty;
    }
    if (!SetDeleteOnClose(old.get(), true))
        return TSwapOutcome::soUndeletable;
    // Should the withdrawal fail, the old file is deleted when its handle
    // closes: the steps below then find the name free or put the backup back.
    SetDeleteOnClose(old.get(), false);
    if (!RenameOpenFile(old.get(), ReplacedPath(ATarget)))
        return TSwapOutcome::soKept;
    if (!MovePartialFileIntoPlace(ATarget)) {
        const TLastErrorKeeper keeper;
        return RenameOpenFile(old.get(), ATarget) ? TSwapOutcome::soNotMoved
                                                  : TSwapOutcome::soEmpty;
    }
    // A program may have loaded the old file under its new name meanwhile;
    // it is then left to the next run.
    SetDeleteOnClose(old.get(), true);
    return TSwapOutcome::soSwapped;
}

// The line after "Unable to delete for replacement: %s": why the old file
// could not go, in the user's language.
std::wstring RefusalReason(const std::wstring& APath, TSwapOutcome AOutcome, DWORD AError) {
    // A file that is not read-only and cannot be deleted, though no handle
    // stood in the way, is mapped as an image: loaded by a running program
    // or as a driver. Windows and Wine both refuse its deletion with
    // ERROR_ACCESS_DENIED.
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    const bool loaded = AOutcome == TSwapOutcome::soUndeletable && AError == ERROR_ACCESS_DENIED &&
                        attributes != INVALID_FILE_ATTRIBUTES &&
                        !(attributes & FILE_ATTRIBUTE_READONLY);
    const wchar_t* format = loaded ? L"The system refused the deletion; error code is %d (%s): a "
                                     L"running program or driver has the file loaded."
                                   : L"The system refused the deletion; error code is %d (%s).";
    return FormatCodeMessage(Translate(format), static_cast<int32_t>(AError),
                             SystemMessage(AError));
}

// The first bytes of a file, enough for its headers; empty when it cannot be
// read.
std::string ReadFileStart(const std::wstring& APath, DWORD ASize) {
    TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes(ASize, '\0');
    DWORD read = 0, total = 0;
    while (file && total < ASize &&
           ::ReadFile(file.get(), bytes.data() + total, ASize - total, &read, nullptr) && read != 0)
        total += read;
    bytes.resize(total);
    return bytes;
}

// Whether the file at APath holds a whole image, read in place.
bool IsWholeImageFile(const std::wstring& APath) {
    // No one writes to it while it is looked at.
    TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

// The headers of an image lie at its start; a file whose PE header lies
// further on is taken for no image at all.
constexpr DWORD ImageHeadersRead = 64 * 1024;

// Every alternative file is a driver, library or program: a download that is
// not a whole image (empty, cut short, an error page, with bytes after it)
// never takes the place of an installed file, nor one of another kind (for
// another machine, a program for a library or a driver).
bool IsReplacementImage(const TMemoryStream& AStream, const std::wstring& AInstalled,
                        int32_t& AErrorCode) {
    if (CheckReplacementImage(AStream.Bytes(), ReadFileStart(AInstalled, ImageHeadersRead)) ==
        TPEImageFault::pifNone)
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
    return false;
}

void ReplaceFile(TConsoleServices& AServices, TConsoleLog& ALog, const std::wstring& ABaseAddress,
                 size_t AIndex, const TStreamWriter& AWrite) {
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
    std::exception_ptr error;
    try {
        TMemoryStream stream;
        int32_t code = 0;
        if (!AServices.DownloadToStream(ABaseAddress + name, stream, code) ||
            !IsReplacementImage(stream, installed, code)) {
            ALog.LogFailure(L"Unable to download: " + std::to_wstring(code));
        } else {
            stream.SetPosition(0);
            // The new file is whole on the disk before the old one is touched.
            AWrite(stream, partial);
            const TSwapOutcome outcome = SwapInPartialFile(installed);
            const DWORD swapError = ::GetLastError();
            switch (outcome) {
            case TSwapOutcome::soSwapped:
                restore = false;
                break;
            case TSwapOutcome::soKept:
            case TSwapOutcome::soUndeletable:
                DiscardLeftoverFile(partial);
                ALog.LogFailure(L"Unable to delete for replacement: " + installed);
                ALog.LogInfo(RefusalReason(installed, outcome, swapError));
                break;
            case TSwapOutcome::soNotMoved:
                RaiseFileError(L"Cannot replace file", installed, swapError);
            case TSwapOutcome::soEmpty:
                restore = true;
                RaiseFileError(L"Cannot replace file", installed, swapError);
            }
        }
    } catch (...) {
        // The stream is released by now; the old file comes back before the
        // error goes on and ends the run.
        error = std::current_exception();
        DiscardLeftoverFile(partial);
    }
    if (restore)
        RestoreBackup(ALog, AIndex);
    if (error)
        std::rethrow_exception(error);
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
        if (outcome == TSwapOutcome::soKept || outcome == TSwapOutcome::soUndeletable) {
            const DWORD error = ::GetLastError();
            DiscardLeftoverFile(PartialPath(installed));
            ALog.LogFailure(L"Could not delete file " + name + L": " + SystemMessage(error));
            return false;
        }
    }
    const DWORD error = ::GetLastError();
    ALog.LogFailure(L"Backup restoration for " + name + L" failed: " + SystemMessage(error));
    return false;
}

void WriteStreamToFile(const TMemoryStream& AStream, const std::wstring& APath) {
    TFileHandle file(::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        RaiseFileError(L"Cannot create file", APath, ::GetLastError());
    // A file that is not whole on the disk does not stay.
    const auto fail = [&](DWORD AError) {
        file.reset();
        DiscardLeftoverFile(APath);
        RaiseFileError(L"Cannot write file", APath, AError);
    };
    if (const DWORD error = WriteAll(file.get(), AStream.Bytes()))
        fail(error);
    if (!::FlushFileBuffers(file.get()))
        fail(::GetLastError());
}
