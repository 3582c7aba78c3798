#include "platform/WholeOrNothing.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/HandleIO.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"

namespace {

// Beside the target, so that the rename stays on its volume; named by the
// process, so that two writers of one target do not meet.
std::wstring PartialPath(const std::wstring& APath) {
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
        copies.push_back({from + file, target, PartialPath(target), AsidePath(target)});
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

    const std::wstring partial = PartialPath(path);
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
