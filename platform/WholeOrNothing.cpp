#include "platform/WholeOrNothing.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Deadline.h"
#include "platform/HandleIO.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"

THeldFileWait HeldFileWait;

namespace {

// Beside the target, so that the rename stays on its volume; named by the
// process, so that two writers of one target do not meet.
std::wstring OwnPartialPath(const std::wstring& APath) {
    return APath + L"." + std::to_wstring(::GetCurrentProcessId()) + L".partial";
}

// The target as a device, if it is one: opened as a caller would write to it
// (a pipe's instance is taken by this open, so it is written through this
// handle and not opened twice).
TFileHandle OpenDevice(const std::wstring& APath) {
    TFileHandle target(::CreateFileW(APath.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (target && ::GetFileType(target.get()) == FILE_TYPE_DISK)
        target.reset();
    return target;
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Gives the open file AFile the full path ANewPath; over a file there only
// with AReplace.
bool RenameOpenFile(HANDLE AFile, const std::wstring& ANewPath, bool AReplace = false) {
    const size_t nameBytes = ANewPath.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes +
                                  sizeof(wchar_t));
    FILE_RENAME_INFO info{};
    info.ReplaceIfExists = AReplace ? TRUE : FALSE;
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

// The attributes of an open file; INVALID_FILE_ATTRIBUTES when they cannot be read.
DWORD HandleAttributes(HANDLE AFile) {
    FILE_BASIC_INFO basic{};
    return ::GetFileInformationByHandleEx(AFile, FileBasicInfo, &basic, sizeof(basic))
               ? basic.FileAttributes
               : INVALID_FILE_ATTRIBUTES;
}

// Sets the attributes of an open file (opened with FILE_WRITE_ATTRIBUTES),
// leaving its times as they are.
bool SetHandleAttributes(HANDLE AFile, DWORD AAttributes) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = AAttributes == 0 ? FILE_ATTRIBUTE_NORMAL : AAttributes;
    return ::SetFileInformationByHandle(AFile, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// The attributes a replacement takes over from the file it replaces.
constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The normalised full path of an open file or folder, links resolved; empty
// when the system gives none.
std::wstring FinalPath(HANDLE AFile) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            AFile, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length, L'\0');
    }
    return {};
}

// Whether the open file AFile, opened at APath, is another file than the one
// the name APath stands for in its folder: the name is a link the system
// followed to its target, where the link itself could not be opened (Wine
// follows the links of the Unix file system it stands on, whatever the open
// asks for). A junction or link that leads to the folder makes no
// difference: the name is still the folder's own.
bool LeadsElsewhere(HANDLE AFile, const std::wstring& APath) {
    const size_t slash = APath.find_last_of(L'\\');
    const std::wstring file = FinalPath(AFile);
    if (slash == std::wstring::npos || file.empty())
        return false;
    const TFileHandle folder(::CreateFileW(APath.substr(0, slash + 1).c_str(), FILE_READ_ATTRIBUTES,
                                           ShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::wstring folderPath = folder ? FinalPath(folder.get()) : std::wstring();
    if (folderPath.empty())
        return false;
    // The name as the folder holds it, not a short form of it.
    std::wstring name = APath.substr(slash + 1);
    wchar_t longPath[MAX_PATH * 2] = {};
    const DWORD length = ::GetLongPathNameW(APath.c_str(), longPath, std::size(longPath));
    if (length > 0 && length < std::size(longPath))
        name = ExtractFileName(longPath);
    const std::wstring expected = IncludeTrailingPathDelimiter(folderPath) + name;
    return ::CompareStringOrdinal(file.c_str(), static_cast<int>(file.size()), expected.c_str(),
                                  static_cast<int>(expected.size()), TRUE) != CSTR_EQUAL;
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

// Writes the file's bytes to the disk, also those of a read-only copy.
bool FlushFile(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly && !::SetFileAttributesW(APath.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    TFileHandle file = OpenUnheldFile(APath, GENERIC_WRITE, 0);
    const bool flushed = file && ::FlushFileBuffers(file.get());
    file.reset();
    if (readOnly && !::SetFileAttributesW(APath.c_str(), attributes))
        return false;
    return flushed;
}

// The partial file of ATarget, held by this process alone: no other program
// can open it between its last write and its rename.
TFileHandle HoldPartialFile(const std::wstring& ATarget) {
    return OpenUnheldFile(PartialPath(ATarget),
                          DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0);
}

// The path is empty (or its folder is missing): what an open of it answered.
bool IsAbsentError(DWORD AError) {
    return AError == ERROR_FILE_NOT_FOUND || AError == ERROR_PATH_NOT_FOUND;
}

// One file of a copy, and how far it came.
struct TFileCopy {
    std::wstring Source;
    std::wstring Target;
    std::wstring Partial;
    std::wstring Aside;
    bool PartialMade = false; // a file, whole or not, lies at Partial
    bool MovedAside = false;  // the file that was at Target lies at Aside
    bool Placed = false;      // the copy has Target's name
};

// The name the file at APath leaves its own for while the copy takes it.
std::wstring AsidePath(const std::wstring& APath) {
    return APath + L"." + std::to_wstring(::GetCurrentProcessId()) + L".replaced";
}

// Copies every byte of ASource into a new file at APartial and puts them on
// the disk. Another program writing the source, or holding it without
// sharing, makes it fail at once.
DWORD CopyToPartial(const std::wstring& ASource, const std::wstring& APartial) {
    const TFileHandle from(::CreateFileW(ASource.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from)
        return ::GetLastError();
    const TFileHandle to(::CreateFileW(APartial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to)
        return ::GetLastError();
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(from.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                        nullptr))
            return ::GetLastError();
        if (read == 0)
            break;
        if (const DWORD error = WriteAll(to.get(), std::string_view(buffer.data(), read)))
            return error;
    }
    return ::FlushFileBuffers(to.get()) ? 0 : ::GetLastError();
}

// Makes the folders between ATo and the file ARelative that are missing,
// each recorded in AMade.
DWORD MakeFolders(const std::wstring& ATo, const std::wstring& ARelative,
                  std::vector<std::wstring>& AMade) {
    for (size_t end = ARelative.find(L'\\'); end != std::wstring::npos;
         end = ARelative.find(L'\\', end + 1)) {
        const std::wstring folder = ATo + ARelative.substr(0, end);
        if (::CreateDirectoryW(folder.c_str(), nullptr))
            AMade.push_back(folder);
        else if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return ::GetLastError();
    }
    return 0;
}

// Gives the copy its target's name: the file there, or a link in the place of
// one, leaves it first.
DWORD PlaceCopy(TFileCopy& ACopy) {
    const DWORD attributes = ::GetFileAttributesW(ACopy.Target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return error;
    } else {
        // A folder of that name is none of the files that were there before:
        // it stays, and the copy fails as a write over a folder does.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return ERROR_ACCESS_DENIED;
        if (!::MoveFileExW(ACopy.Target.c_str(), ACopy.Aside.c_str(), MOVEFILE_WRITE_THROUGH))
            return ::GetLastError();
        ACopy.MovedAside = true;
    }
    if (!::MoveFileExW(ACopy.Partial.c_str(), ACopy.Target.c_str(), MOVEFILE_WRITE_THROUGH))
        return ::GetLastError();
    ACopy.PartialMade = false;
    ACopy.Placed = true;
    return 0;
}

// Takes back what the copy did, the last step first: the files that were
// there get their names again, what the copy made goes.
void UndoCopy(std::vector<TFileCopy>& ACopies, const std::vector<std::wstring>& AMadeFolders) {
    const TLastErrorKeeper keeper;
    for (auto copy = ACopies.rbegin(); copy != ACopies.rend(); ++copy) {
        if (copy->MovedAside)
            ::MoveFileExW(copy->Aside.c_str(), copy->Target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        else if (copy->Placed)
            ::DeleteFileW(copy->Target.c_str());
        if (copy->PartialMade)
            ::DeleteFileW(copy->Partial.c_str());
    }
    for (auto folder = AMadeFolders.rbegin(); folder != AMadeFolders.rend(); ++folder)
        ::RemoveDirectoryW(folder->c_str());
}

// The file that was at a target, once the copy has its name: deleted, also
// when read-only, or removed as the link it is. A program's image that
// cannot go while it runs is left to the next start of the system.
void DiscardAside(const std::wstring& AAside) {
    if (::DeleteFileW(AAside.c_str()))
        return;
    if (::SetFileAttributesW(AAside.c_str(), FILE_ATTRIBUTE_NORMAL) &&
        ::DeleteFileW(AAside.c_str()))
        return;
    if (::RemoveDirectoryW(AAside.c_str()))
        return;
    ::MoveFileExW(AAside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

} // namespace

unsigned long CopyWholeOrNothing(const std::wstring& AFrom, const std::vector<std::wstring>& AFiles,
                                 const std::wstring& ATo, std::size_t& AFailed) {
    const std::wstring from = IncludeTrailingPathDelimiter(AFrom);
    const std::wstring to = IncludeTrailingPathDelimiter(ATo);
    std::vector<TFileCopy> copies;
    for (const std::wstring& file : AFiles) {
        const std::wstring target = to + file;
        copies.push_back({from + file, target, OwnPartialPath(target), AsidePath(target)});
    }
    std::vector<std::wstring> madeFolders;
    const auto fail = [&](size_t AIndex, DWORD AError) {
        UndoCopy(copies, madeFolders);
        AFailed = AIndex;
        return AError;
    };
    for (size_t i = 0; i < copies.size(); ++i) {
        if (const DWORD error = MakeFolders(to, AFiles[i], madeFolders))
            return fail(i, error);
        copies[i].PartialMade = true;
        if (const DWORD error = CopyToPartial(copies[i].Source, copies[i].Partial))
            return fail(i, error);
    }
    for (size_t i = 0; i < copies.size(); ++i) {
        if (const DWORD error = PlaceCopy(copies[i]))
            return fail(i, error);
    }
    for (const TFileCopy& copy : copies) {
        if (copy.MovedAside)
            DiscardAside(copy.Aside);
    }
    return 0;
}

unsigned long WriteWholeOrNothing(std::wstring_view APath, std::string_view ABytes) {
    const std::wstring path(APath);
    if (const TFileHandle device = OpenDevice(path))
        return WriteAll(device.get(), ABytes);

    const std::wstring partial = OwnPartialPath(path);
    DWORD error = 0;
    {
        TFileHandle file(::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return ::GetLastError();
        error = WriteAll(file.get(), ABytes);
        if (error == 0 && !::FlushFileBuffers(file.get()))
            error = ::GetLastError();
    }
    if (error == 0 && !::MoveFileExW(partial.c_str(), path.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = ::GetLastError();
    if (error != 0)
        ::DeleteFileW(partial.c_str());
    return error;
}

bool IsHeldFileError(unsigned long AError) {
    return AError == ERROR_SHARING_VIOLATION || AError == ERROR_ACCESS_DENIED;
}

bool RetryWhileHeld(const std::function<bool()>& AStep) {
    const THeldFileWait wait = HeldFileWait;
    const TDeadline deadline(wait.LimitMs);
    DWORD pause = std::max<DWORD>(wait.FirstPauseMs, 1);
    for (;;) {
        if (AStep())
            return true;
        const DWORD error = ::GetLastError();
        const DWORD remaining = deadline.Remaining();
        if (!IsHeldFileError(error) || remaining == 0) {
            ::SetLastError(error);
            return false;
        }
        if (wait.Pause)
            wait.Pause(std::min(pause, remaining));
        else
            ::Sleep(std::min(pause, remaining));
        pause = std::min<DWORD>(pause * 2, std::max<DWORD>(wait.LongestPauseMs, 1));
    }
}

TFileHandle OpenUnheldFile(const std::wstring& APath, unsigned long AAccess, unsigned long AShare,
                           unsigned long AFlags) {
    TFileHandle file;
    RetryWhileHeld([&] {
        file.reset(
            ::CreateFileW(APath.c_str(), AAccess, AShare, nullptr, OPEN_EXISTING, AFlags, nullptr));
        return static_cast<bool>(file);
    });
    return file;
}

TPathState PathState(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return IsAbsentError(::GetLastError()) ? TPathState::psAbsent : TPathState::psUnknown;
    const bool plainFolder =
        (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    return plainFolder ? TPathState::psAbsent : TPathState::psPresent;
}

std::wstring PartialPath(const std::wstring& APath) {
    return APath + L".partial";
}

unsigned long WriteFlushedFile(const std::wstring& APath, std::string_view ABytes) {
    // A leftover of an earlier try, read-only or hidden, would refuse the creation.
    DiscardLeftoverFile(APath);
    TFileHandle file;
    RetryWhileHeld([&] {
        file.reset(::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
    });
    if (!file)
        return ::GetLastError();
    DWORD error = WriteAll(file.get(), ABytes);
    if (error == 0 && !::FlushFileBuffers(file.get()))
        error = ::GetLastError();
    file.reset();
    // A file that is not whole on the disk does not stay.
    if (error != 0)
        DiscardLeftoverFile(APath);
    return error;
}

bool CopyToPartialFile(const std::wstring& ASource, const std::wstring& ATarget) {
    const std::wstring partial = PartialPath(ATarget);
    DiscardLeftoverFile(partial);
    if (RetryWhileHeld(
            [&] { return ::CopyFileW(ASource.c_str(), partial.c_str(), FALSE) != FALSE; }) &&
        FlushFile(partial))
        return true;
    DiscardLeftoverFile(partial);
    return false;
}

bool MovePartialFileIntoPlace(const std::wstring& ATarget) {
    TFileHandle fresh = HoldPartialFile(ATarget);
    if (fresh && RenameOpenFile(fresh.get(), ATarget))
        return true;
    fresh.reset();
    DiscardLeftoverFile(PartialPath(ATarget));
    return false;
}

void DiscardLeftoverFile(const std::wstring& APath) {
    const TLastErrorKeeper keeper;
    // Deleted while no other program has it open: a deletion another
    // program's handle keeps pending would keep the name taken (Wine), or
    // refuse a new file of that name (Windows), until it lets go.
    TFileHandle file = OpenUnheldFile(APath, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                      0, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file)
        return;
    // A partial copy of a read-only file is read-only too.
    const DWORD attributes = HandleAttributes(file.get());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetHandleAttributes(file.get(), attributes & ~FILE_ATTRIBUTE_READONLY);
    SetDeleteOnClose(file.get(), true);
}

// The old file is opened without any sharing, which fails while another
// program has it open for its data (ERROR_SHARING_VIOLATION), and is tried
// again while the held-file wait lasts: its deletion would otherwise wait for
// that program and take the file away later, beyond any restore. A handle
// without data access (Explorer, indexers and scanners hold such ones) does
// not stand in the way of that open, and a deletion then waits for it as
// well: under Wine the name stays taken until it closes, on Windows the name
// answers ERROR_ACCESS_DENIED meanwhile. So the old file leaves its name by a
// rename through the open handle, which frees the name at once on both, and
// is deleted under its new name.
//
// A file loaded as an image (a running program, a library mapped anywhere, a
// loaded driver) can be opened so, and renamed on Windows, but not deleted:
// its deletion is asked for and withdrawn before anything is renamed, so such
// a file stays where it is. A read-only file is not deleted either.
//
// The new file is held by this process alone from before the old one leaves
// its name until it has taken it, so that no other program's open comes
// between the two renames.
TSwapOutcome SwapInPartialFile(const std::wstring& ATarget) {
    const std::wstring partial = PartialPath(ATarget);
    TFileHandle fresh = HoldPartialFile(ATarget);
    const auto failed = [&](TSwapOutcome AOutcome) {
        const TLastErrorKeeper keeper;
        fresh.reset();
        DiscardLeftoverFile(partial);
        return AOutcome;
    };
    if (!fresh) {
        const bool empty = PathState(ATarget) == TPathState::psAbsent;
        return failed(empty ? TSwapOutcome::soEmpty : TSwapOutcome::soNotMoved);
    }
    TFileHandle old = OpenUnheldFile(ATarget, DELETE | FILE_READ_ATTRIBUTES, 0,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (!old) {
        if (!IsAbsentError(::GetLastError()))
            return failed(TSwapOutcome::soKept);
        return RenameOpenFile(fresh.get(), ATarget) ? TSwapOutcome::soSwapped
                                                    : failed(TSwapOutcome::soEmpty);
    }
    const DWORD attributes = HandleAttributes(old.get());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return failed(TSwapOutcome::soReadOnly);
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & KeptAttributes)) {
        const DWORD own = HandleAttributes(fresh.get());
        if (own != INVALID_FILE_ATTRIBUTES)
            // FILE_ATTRIBUTE_NORMAL stands only alone.
            SetHandleAttributes(fresh.get(), (own & ~(KeptAttributes | FILE_ATTRIBUTE_NORMAL)) |
                                                 (attributes & KeptAttributes));
    }
    if (LeadsElsewhere(old.get(), ATarget)) {
        // Neither renamed nor deleted through this handle: both would act on
        // the link's target. The new file takes the name over the link.
        old.reset();
        return RetryWhileHeld([&] { return RenameOpenFile(fresh.get(), ATarget, true); })
                   ? TSwapOutcome::soSwapped
                   : failed(TSwapOutcome::soNotMoved);
    }
    if (!RetryWhileHeld([&] { return SetDeleteOnClose(old.get(), true); }))
        return failed(TSwapOutcome::soUndeletable);
    // Should the withdrawal fail, the old file is deleted when its handle
    // closes: the steps below then find the name free or put the backup back.
    SetDeleteOnClose(old.get(), false);
    if (!RetryWhileHeld([&] { return RenameOpenFile(old.get(), ReplacedPath(ATarget)); }))
        return failed(TSwapOutcome::soKept);
    if (!RenameOpenFile(fresh.get(), ATarget)) {
        const TLastErrorKeeper keeper;
        const bool back = RenameOpenFile(old.get(), ATarget);
        failed(TSwapOutcome::soNotMoved);
        return back ? TSwapOutcome::soNotMoved : TSwapOutcome::soEmpty;
    }
    // A program may have loaded the old file under its new name meanwhile;
    // it is then left to the next run.
    SetDeleteOnClose(old.get(), true);
    return TSwapOutcome::soSwapped;
}

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

unsigned long ReadUnheldFile(const std::wstring& APath,
                             const std::function<void(std::string_view)>& AChunk) {
    const TFileHandle file =
        OpenUnheldFile(APath, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!file)
        return ::GetLastError();
    std::string buffer(1 << 20, '\0');
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                        nullptr))
            return ::GetLastError();
        if (read == 0)
            return 0;
        AChunk(std::string_view(buffer.data(), read));
    }
}
