#include "tests/support/UnixSide.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Handles.h"
#include "platform/WinText.h"

void StartUnixShell(std::wstring ACommand) {
    std::wstring commandLine = L"/bin/sh -c \"" + ACommand + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process)) {
        TKernelHandle thread(process.hThread), handle(process.hProcess);
    }
}

std::wstring WindowsPathOfUnix(const std::wstring& AUnixPath) {
    std::wstring path = L"Z:" + AUnixPath;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring UnixPathOf(const std::wstring& AWindowsPath) {
    // Wine's own export, found only under Wine: the Unix name of a path on
    // any drive, in the process heap.
    using TUnixName = char*(CDECL*)(LPCWSTR);
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto unixName = reinterpret_cast<TUnixName>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_unix_file_name")));
    if (unixName) {
        const TProcessHeapMemory name(unixName(AWindowsPath.c_str()));
        if (name)
            return Utf8ToWide(static_cast<const char*>(name.get()));
    }
    // Drive Z: maps the Unix root: Z:\a\b is /a/b.
    if (AWindowsPath.size() < 2 || (AWindowsPath[0] != L'Z' && AWindowsPath[0] != L'z') ||
        AWindowsPath[1] != L':')
        return {};
    std::wstring path = AWindowsPath.substr(2);
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

bool MakeFileLink(const std::wstring& ALink, const std::wstring& ATarget) {
    const auto isLink = [&] {
        return ::GetFileAttributesW(ALink.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    if (::CreateSymbolicLinkW(ALink.c_str(), ATarget.c_str(),
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        isLink())
        return true;
    const std::wstring link = UnixPathOf(ALink), target = UnixPathOf(ATarget);
    if (link.empty() || target.empty())
        return false;
    StartUnixShell(L"ln -s '" + target + L"' '" + link + L"'");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!isLink() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return isLink();
}
