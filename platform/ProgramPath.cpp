#include "platform/ProgramPath.h"

#include <windows.h>

std::wstring ProgramFileName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ExtractFilePath(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring IncludeTrailingPathDelimiter(const std::wstring& path) {
    return !path.empty() && path.back() == L'\\' ? path : path + L'\\';
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring ExtractFileName(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\:");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring ProgramFolder() {
    return ExtractFilePath(ProgramFileName());
}

bool FullPathName(const wchar_t* path, std::wstring& fullPath) {
    const DWORD size = ::GetFullPathNameW(path, 0, nullptr, nullptr);
    if (size == 0)
        return false;
    fullPath.assign(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path, size, fullPath.data(), nullptr);
    if (length == 0 || length >= size)
        return false;
    fullPath.resize(length);
    return true;
}
