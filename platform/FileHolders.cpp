#include "platform/FileHolders.h"

#include <windows.h>

#include <restartmanager.h>

#include <vector>

#include "platform/Handles.h"

namespace {

// A Restart Manager session, ended once. Session handles start at 0.
struct TRestartSessionTraits {
    using pointer = DWORD;
    static pointer Invalid() noexcept { return static_cast<DWORD>(-1); }
    static void Close(pointer h) noexcept { ::RmEndSession(h); }
};
using TRestartSession = TUniqueHandle<TRestartSessionTraits>;

// More holders than these are not looked at: a line names a few.
constexpr UINT MostAsked = 64;
constexpr size_t MostNamed = 4;

} // namespace

std::vector<TFileHolder> FileHolders(const std::wstring& APath) {
    DWORD handle = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (::RmStartSession(&handle, 0, key) != ERROR_SUCCESS)
        return {};
    const TRestartSession session(handle);
    LPCWSTR files[] = {APath.c_str()};
    if (::RmRegisterResources(session.get(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS)
        return {};
    // The list is asked for again when more holders came than room was made for.
    std::vector<RM_PROCESS_INFO> found(4);
    UINT count = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        UINT needed = 0;
        count = static_cast<UINT>(found.size());
        DWORD reasons = 0;
        const DWORD result = ::RmGetList(session.get(), &needed, &count, found.data(), &reasons);
        if (result == ERROR_SUCCESS)
            break;
        if (result != ERROR_MORE_DATA || needed > MostAsked)
            return {};
        found.resize(needed);
        count = 0;
    }
    std::vector<TFileHolder> holders;
    for (UINT i = 0; i < count && holders.size() < MostNamed; ++i)
        holders.push_back({found[i].Process.dwProcessId, found[i].strAppName});
    return holders;
}
