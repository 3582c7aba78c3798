#include "fileinfo/WindowsVersion.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <vector>

#include "fileinfo/VersionReader.h"
#include "platform/Handles.h"
#include "platform/WinText.h"

OSVERSIONINFOW WindowsVersionInfo = {};

namespace {

constexpr const wchar_t* CurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

struct TBuildName {
    std::uint32_t Build;
    const wchar_t* Name;
};

// Build numbers that name a release whatever the major and minor version say.
constexpr TBuildName BuildNames[] = {
    {10240, L"Windows 10, Version 1507"}, {10586, L"Windows 10, Version 1511"},
    {14393, L"Windows 10, Version 1607"}, {15063, L"Windows 10, Version 1703"},
    {16299, L"Windows 10, Version 1709"}, {17134, L"Windows 10, Version 1803"},
    {17763, L"Windows 10, Version 1809"}, {18362, L"Windows 10, Version 1903"},
    {18363, L"Windows 10, Version 1909"}, {19041, L"Windows 10, Version 2004"},
    {19042, L"Windows 10, Version 20H2"}, {19043, L"Windows 10, Version 21H1"},
    {19044, L"Windows 10, Version 21H2"}, {19045, L"Windows 10, Version 22H2"},
    {22000, L"Windows 11, Version 21H2"}, {22621, L"Windows 11, Version 22H2"},
    {22631, L"Windows 11, Version 23H2"}, {26100, L"Windows 11, Version 24H2"},
    {26200, L"Windows 11, Version 25H2"},
};

// Windows 11 kept major version 10; only its build tells it apart.
constexpr std::uint32_t FirstWindows11Build = 22000;

std::wstring NameByNumbers(std::uint32_t AMajor, std::uint32_t AMinor, std::uint32_t ABuild) {
    switch (AMajor) {
    case 3:
        if (AMinor == 10)
            return L"Windows NT 3.1";
        if (AMinor == 51)
            return L"Windows NT 3.51";
        break;
    case 4:
        switch (AMinor) {
        case 0:
            switch (ABuild) {
            case 950:
                return L"Windows 95";
            case 1111:
                return L"Windows 95 OSR 2/2.1";
            case 1212:
                return L"Windows 95 OSR 2.5";
            case 1381:
                return L"Windows NT 4.0";
            default:
                return L"Windows 4.0";
            }
        case 1:
            if (ABuild == 1998)
                return L"Windows 98";
            if (ABuild == 2222)
                return L"Windows 98 Second Edition";
            return L"Windows 4.1";
        case 9:
            return ABuild == 3000 ? L"Windows ME" : L"Windows 4.9";
        case 10:
            return L"Windows 98";
        case 90:
            return L"Windows ME";
        }
        break;
    case 5:
        if (AMinor == 0)
            return L"Windows 2000";
        if (AMinor == 1)
            return L"Windows XP";
        if (AMinor == 2)
            return ABuild == 3790 ? L"Windows 2003/XPx64" : L"Windows 2003 or newer";
        break;
    case 6:
        switch (AMinor) {
        case 0:
            switch (ABuild) {
            case 6001:
                return L"Windows Vista, Service Pack 1";
            case 6002:
                return L"Windows Vista, Service Pack 2";
            case 6003:
                return L"Windows Server 2008, Service Pack 2, Rollup KB4489887";
            default:
                return L"Windows Vista";
            }
        case 1:
            if (ABuild == 7601)
                return L"Windows 7, Service Pack 1";
            if (ABuild == 8400)
                return L"Windows Home Server 2011";
            return L"Windows 7";
        case 2:
            return L"Windows 8";
        case 3:
            return ABuild == 9600 ? L"Windows 8.1" : L"Windows 8.1 or later";
        }
        break;
    case 10:
        if (AMinor == 0)
            return ABuild >= FirstWindows11Build ? L"Windows 11" : L"Windows 10";
        break;
    }
    return L"Unknown Windows version " + std::to_wstring(AMajor) + L"." + std::to_wstring(AMinor);
}

bool IsControlOrSpace(wchar_t ACharacter) {
    return ACharacter <= L' ';
}

// A REG_SZ value as text; false when it is missing or of another type.
bool ReadRegistryText(HKEY AKey, const wchar_t* AName, std::wstring& AText) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(AKey, AName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(AKey, AName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                           &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    AText = buffer.data(); // up to the first zero, stored with one or not
    return true;
}

// A build number as the registry writes it: decimal digits only.
bool ParseBuild(const std::wstring& AText, std::uint32_t& ABuild) {
    if (AText.empty() || AText.size() > 9 ||
        AText.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    ABuild = static_cast<std::uint32_t>(std::stoul(AText));
    return true;
}

} // namespace

void ApplyVersionApi(OSVERSIONINFOW& AInfo) {
    AInfo.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
#ifdef _MSC_VER
#pragma warning(suppress : 4996) // the version API is one source of three here
#endif
    ::GetVersionExW(&AInfo);
}

void ApplyKernel32Version(OSVERSIONINFOW& AInfo) {
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32");
    if (reinterpret_cast<std::uintptr_t>(kernel32) <= 32)
        return;
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(kernel32, path, MAX_PATH);
    std::vector<std::uint8_t> data;
    if (!LoadVersionInfo(path, data))
        return;
    LPVOID fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\", &fixed, &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    AInfo.dwMajorVersion = HIWORD(info->dwFileVersionMS);
    AInfo.dwMinorVersion = LOWORD(info->dwFileVersionMS);
    AInfo.dwBuildNumber = HIWORD(info->dwFileVersionLS);
}

void ApplyRegistryVersion(HKEY AKey, OSVERSIONINFOW& AInfo) {
    std::wstring currentVersion;
    if (!ReadRegistryText(AKey, L"CurrentVersion", currentVersion) || currentVersion != L"6.3")
        return;
    if (AInfo.dwMajorVersion < 10) {
        AInfo.dwMajorVersion = 6;
        AInfo.dwMinorVersion = 3;
    }
    // Windows 8.1 and later keep "6.3" here; "CurrentBuild" then names the
    // release more precisely than kernel32's file version (Windows 10 22H2
    // ships kernel32 of build 19041, for one).
    std::wstring currentBuild;
    std::uint32_t build = 0;
    if (ReadRegistryText(AKey, L"CurrentBuild", currentBuild) && ParseBuild(currentBuild, build))
        AInfo.dwBuildNumber = build;
}

void DetectWindowsVersion() {
    OSVERSIONINFOW info = {};
    ApplyVersionApi(info);
    ApplyKernel32Version(info);
    TRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_QUERY_VALUE,
                        key.addressof()) == ERROR_SUCCESS)
        ApplyRegistryVersion(key.get(), info);
    WindowsVersionInfo = info;
}

std::wstring WindowsReleaseName(std::uint32_t AMajor, std::uint32_t AMinor, std::uint32_t ABuild) {
    std::wstring name = NameByNumbers(AMajor, AMinor, ABuild);
    for (const TBuildName& entry : BuildNames) {
        if (entry.Build == ABuild)
            name = entry.Name;
    }
    return name;
}

std::wstring WindowsVersionText(std::uint32_t AMajor, std::uint32_t AMinor, std::uint32_t ABuild,
                                bool AWithNumbers) {
    const std::wstring name = WindowsReleaseName(AMajor, AMinor, ABuild);
    const std::uint32_t build = AMajor == 4 ? (ABuild & 0xFFFF) : ABuild;
    if (AWithNumbers)
        return name + L" [" + std::to_wstring(AMajor) + L"." + std::to_wstring(AMinor) + L"." +
               std::to_wstring(build) + L"] ";
    return name + L" (Build: " + std::to_wstring(build) + L") ";
}

std::wstring WindowsVersionNameOf(const OSVERSIONINFOW& AInfo, bool AWithNumbers) {
    // On Windows 95 to ME the build's upper half carries other data.
    const std::uint32_t build =
        AInfo.dwMajorVersion == 4 ? (AInfo.dwBuildNumber & 0xFFFF) : AInfo.dwBuildNumber;
    std::wstring text =
        WindowsVersionText(AInfo.dwMajorVersion, AInfo.dwMinorVersion, build, AWithNumbers);
    const std::wstring servicePack(AInfo.szCSDVersion,
                                   ::wcsnlen(AInfo.szCSDVersion, std::size(AInfo.szCSDVersion)));
    text += AnsiToWide(WideToAnsi(servicePack));
    const auto first = std::find_if_not(text.begin(), text.end(), IsControlOrSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsControlOrSpace).base();
    return first < last ? std::wstring(first, last) : std::wstring();
}

std::wstring WindowsVersionName(bool AWithNumbers) {
    return WindowsVersionNameOf(WindowsVersionInfo, AWithNumbers);
}
