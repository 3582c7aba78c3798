#include "AlternativeFiles.h"

#include <windows.h>

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
