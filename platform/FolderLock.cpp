#include "platform/FolderLock.h"

#include <windows.h>

#include <string>

namespace {

// The folder's final path: links and junctions on the way resolved, short
// names made long; its full path when the system gives none.
std::wstring ResolvedFolder(const std::wstring& AFolder) {
    const TFileHandle folder(::CreateFileW(AFolder.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
    std::wstring path(MAX_PATH, L'\0');
    if (folder) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            const DWORD length = ::GetFinalPathNameByHandleW(
                folder.get(), path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
            if (length == 0)
                break;
            if (length < path.size()) {
                path.resize(length);
                return path;
            }
            path.assign(length, L'\0');
        }
    }
    const DWORD length = ::GetFullPathNameW(AFolder.c_str(), 0, nullptr, nullptr);
    path.assign(length, L'\0');
    if (length == 0 || ::GetFullPathNameW(AFolder.c_str(), length, path.data(), nullptr) >= length)
        return AFolder;
    path.resize(length - 1);
    return path;
}

// Upper case as the file system compares names, apart from any language.
std::wstring UpperCase(const std::wstring& AText) {
    std::wstring upper(AText.size(), L'\0');
    const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, AText.c_str(),
                                       static_cast<int>(AText.size()), upper.data(),
                                       static_cast<int>(upper.size()), nullptr, nullptr, 0);
    return length == static_cast<int>(AText.size()) ? upper : AText;
}

} // namespace

TFolderLock::TFolderLock(const std::wstring& AFolder, std::wstring_view APurpose) {
    const std::wstring name =
        FolderLockName(APurpose, NormalisedFolder(UpperCase(ResolvedFolder(AFolder))));
    // The machine's namespace, so that a window of another session meets it
    // too; the session's where the process may not make one there.
    FMutex.reset(::CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str()));
    if (!FMutex)
        FMutex.reset(::CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str()));
    if (!FMutex) {
        FTaken = true;
        return;
    }
    // An owner that ended without letting go (WAIT_ABANDONED) left it free.
    const DWORD wait = ::WaitForSingleObject(FMutex.get(), 0);
    FTaken = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (FTaken)
        FOwned.reset(FMutex.get());
    else if (wait == WAIT_FAILED)
        FTaken = true;
}
