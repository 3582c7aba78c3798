// Windows version naming as a table, and the detection against what the
// registry and kernel32 say under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fileinfo/VersionReader.h"
#include "fileinfo/WindowsVersion.h"
#include "platform/Handles.h"

namespace {

struct TNameCase {
    std::uint32_t Major, Minor, Build;
    bool WithNumbers;
    const wchar_t* Text;
};

const std::vector<TNameCase> NameCases = {
    {10, 0, 19041, true, L"Windows 10, Version 2004 [10.0.19041] "},
    {10, 0, 19041, false, L"Windows 10, Version 2004 (Build: 19041) "},
    {10, 0, 12345, true, L"Windows 10 [10.0.12345] "},
    {10, 0, 19042, true, L"Windows 10, Version 20H2 [10.0.19042] "},
    {10, 0, 19043, true, L"Windows 10, Version 21H1 [10.0.19043] "},
    {10, 0, 19044, true, L"Windows 10, Version 21H2 [10.0.19044] "},
    {10, 0, 19045, true, L"Windows 10, Version 22H2 [10.0.19045] "},
    {10, 0, 21999, true, L"Windows 10 [10.0.21999] "},
    {10, 0, 22000, true, L"Windows 11, Version 21H2 [10.0.22000] "},
    {10, 0, 22621, true, L"Windows 11, Version 22H2 [10.0.22621] "},
    {10, 0, 22631, true, L"Windows 11, Version 23H2 [10.0.22631] "},
    {10, 0, 26100, true, L"Windows 11, Version 24H2 [10.0.26100] "},
    {10, 0, 26200, true, L"Windows 11, Version 25H2 [10.0.26200] "},
    {10, 0, 23000, true, L"Windows 11 [10.0.23000] "},
    {6, 1, 7601, true, L"Windows 7, Service Pack 1 [6.1.7601] "},
    {6, 1, 7600, false, L"Windows 7 (Build: 7600) "},
    {6, 1, 8400, true, L"Windows Home Server 2011 [6.1.8400] "},
    {6, 3, 9600, true, L"Windows 8.1 [6.3.9600] "},
    {6, 3, 9601, true, L"Windows 8.1 or later [6.3.9601] "},
    {6, 2, 9200, true, L"Windows 8 [6.2.9200] "},
    {6, 0, 6003, true, L"Windows Server 2008, Service Pack 2, Rollup KB4489887 [6.0.6003] "},
    {6, 0, 6000, true, L"Windows Vista [6.0.6000] "},
    {5, 2, 3790, true, L"Windows 2003/XPx64 [5.2.3790] "},
    {5, 2, 3791, true, L"Windows 2003 or newer [5.2.3791] "},
    {5, 1, 2600, true, L"Windows XP [5.1.2600] "},
    {4, 10, 7, true, L"Windows 98 [4.10.7] "},
    {4, 90, 3000, true, L"Windows ME [4.90.3000] "},
    {4, 9, 3000, true, L"Windows ME [4.9.3000] "},
    {4, 0, 1111, true, L"Windows 95 OSR 2/2.1 [4.0.1111] "},
    {4, 0, 0x04000457, true, L"Windows 4.0 [4.0.1111] "}, // the name sees all 32 bits
    {4, 1, 2222, true, L"Windows 98 Second Edition [4.1.2222] "},
    {3, 51, 1057, true, L"Windows NT 3.51 [3.51.1057] "},
    {11, 0, 30000, true, L"Unknown Windows version 11.0 [11.0.30000] "},
    {6, 4, 9841, false, L"Unknown Windows version 6.4 (Build: 9841) "},
    {6, 1, 17763, true, L"Windows 10, Version 1809 [6.1.17763] "}, // a listed build wins
    {11, 0, 10240, true, L"Windows 10, Version 1507 [11.0.10240] "},
};

TEST(WindowsVersionText, NamesEveryRowAndAppendsTheNumbers) {
    for (const TNameCase& row : NameCases) {
        SCOPED_TRACE(std::to_string(row.Major) + "." + std::to_string(row.Minor) + "." +
                     std::to_string(row.Build));
        EXPECT_EQ(WindowsVersionText(row.Major, row.Minor, row.Build, row.WithNumbers), row.Text);
        // The name alone is the text up to its numbers.
        const std::wstring text = row.Text;
        const size_t numbers = text.rfind(row.WithNumbers ? L" [" : L" (Build: ");
        EXPECT_EQ(WindowsReleaseName(row.Major, row.Minor, row.Build), text.substr(0, numbers));
    }
}

OSVERSIONINFOW Info(DWORD AMajor, DWORD AMinor, DWORD ABuild, const wchar_t* AServicePack) {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = AMajor;
    info.dwMinorVersion = AMinor;
    info.dwBuildNumber = ABuild;
    ::lstrcpynW(info.szCSDVersion, AServicePack, 128);
    return info;
}

TEST(WindowsVersionName, AddsTheServicePackAndTrimsTheEnds) {
    EXPECT_EQ(WindowsVersionNameOf(Info(10, 0, 19041, L""), true),
              L"Windows 10, Version 2004 [10.0.19041]");
    EXPECT_EQ(WindowsVersionNameOf(Info(10, 0, 19041, L""), false),
              L"Windows 10, Version 2004 (Build: 19041)");
    EXPECT_EQ(WindowsVersionNameOf(Info(6, 1, 7601, L"Service Pack 1"), true),
              L"Windows 7, Service Pack 1 [6.1.7601] Service Pack 1");
    EXPECT_EQ(WindowsVersionNameOf(Info(6, 1, 7601, L" B \t"), true),
              L"Windows 7, Service Pack 1 [6.1.7601]  B");
    // Windows 95 to ME keep other data in the build's upper half.
    EXPECT_EQ(WindowsVersionNameOf(Info(4, 0, 0x04000457, L" C"), true),
              L"Windows 95 OSR 2/2.1 [4.0.1111]  C");

    OSVERSIONINFOW unterminated = Info(6, 1, 7601, L"");
    for (wchar_t& c : unterminated.szCSDVersion)
        c = L'x';
    EXPECT_EQ(WindowsVersionNameOf(unterminated, true),
              L"Windows 7, Service Pack 1 [6.1.7601] " + std::wstring(128, L'x'));
}

// The registry step on a key of the test's own.
class RegistryVersion : public ::testing::Test {
protected:
    void SetUp() override {
        FPath =
            L"Software\\Derodo Tests\\WindowsVersion-" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, FPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, FKey.addressof(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        FKey.reset();
        ::RegDeleteKeyW(HKEY_CURRENT_USER, FPath.c_str());
    }
    void SetText(const wchar_t* AName, const std::wstring& AText) {
        ::RegSetValueExW(FKey.get(), AName, 0, REG_SZ, reinterpret_cast<const BYTE*>(AText.c_str()),
                         static_cast<DWORD>((AText.size() + 1) * sizeof(wchar_t)));
    }
    void Apply(OSVERSIONINFOW& AInfo) { ApplyRegistryVersion(FKey.get(), AInfo); }

    std::wstring FPath;
    TRegKey FKey;
};

struct TRegistryCase {
    const char* Name;
    const wchar_t* CurrentVersion; // null: no value
    const wchar_t* CurrentBuild;   // null: no value
    DWORD Major, Minor, Build;     // before
    DWORD ExpectedMajor, ExpectedMinor, ExpectedBuild;
};

const std::vector<TRegistryCase> RegistryCases = {
    {"windows10KeepsItsNumbersTakesTheBuild", L"6.3", L"19045", 10, 0, 19041, 10, 0, 19045},
    {"windows81FromAnOlderApi", L"6.3", L"9600", 6, 2, 9200, 6, 3, 9600},
    {"anotherVersionChangesNothing", L"6.1", L"7601", 10, 0, 18362, 10, 0, 18362},
    {"winesWindows10Setting", L"10.0", L"19045", 10, 0, 18362, 10, 0, 18362},
    {"notANumber", L"6.3", L"19045a", 10, 0, 19041, 10, 0, 19041},
    {"noBuild", L"6.3", nullptr, 6, 2, 9200, 6, 3, 9200},
    {"noVersion", nullptr, L"19045", 10, 0, 19041, 10, 0, 19041},
    {"versionWithTrailingText", L"6.3 ", L"19045", 6, 2, 9200, 6, 2, 9200},
};

TEST_F(RegistryVersion, SixPointThreeSetsTheVersionAndTheBuild) {
    for (const TRegistryCase& row : RegistryCases) {
        SCOPED_TRACE(row.Name);
        ::RegDeleteValueW(FKey.get(), L"CurrentVersion");
        ::RegDeleteValueW(FKey.get(), L"CurrentBuild");
        if (row.CurrentVersion)
            SetText(L"CurrentVersion", row.CurrentVersion);
        if (row.CurrentBuild)
            SetText(L"CurrentBuild", row.CurrentBuild);
        OSVERSIONINFOW info = Info(row.Major, row.Minor, row.Build, L"");
        Apply(info);
        EXPECT_EQ(info.dwMajorVersion, row.ExpectedMajor);
        EXPECT_EQ(info.dwMinorVersion, row.ExpectedMinor);
        EXPECT_EQ(info.dwBuildNumber, row.ExpectedBuild);
    }
}

TEST_F(RegistryVersion, AVersionOfAnotherTypeChangesNothing) {
    const DWORD value = 63;
    ::RegSetValueExW(FKey.get(), L"CurrentVersion", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&value), sizeof(value));
    SetText(L"CurrentBuild", L"9600");
    OSVERSIONINFOW info = Info(6, 2, 9200, L"");
    Apply(info);
    EXPECT_EQ(info.dwMinorVersion, 2u);
    EXPECT_EQ(info.dwBuildNumber, 9200u);
}

std::wstring RegistryText(const wchar_t* AName) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", AName,
                   RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
}

TEST(WindowsVersionDetection, TakesKernel32sNumbersWhereTheRegistrySaysNoSixPointThree) {
    if (RegistryText(L"CurrentVersion") == L"6.3")
        GTEST_SKIP() << "the registry names Windows 8.1 or later";
    wchar_t kernel32[MAX_PATH] = {};
    ::GetModuleFileNameW(::GetModuleHandleW(L"kernel32"), kernel32, MAX_PATH);
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(LoadVersionInfo(kernel32, data));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &length));

    DetectWindowsVersion();
    EXPECT_EQ(WindowsVersionInfo.dwMajorVersion, HIWORD(fixed->dwFileVersionMS));
    EXPECT_EQ(WindowsVersionInfo.dwMinorVersion, LOWORD(fixed->dwFileVersionMS));
    EXPECT_EQ(WindowsVersionInfo.dwBuildNumber, HIWORD(fixed->dwFileVersionLS));

    OSVERSIONINFOW api = {};
    api.dwOSVersionInfoSize = sizeof(api);
    ASSERT_TRUE(::GetVersionExW(&api));
    EXPECT_STREQ(WindowsVersionInfo.szCSDVersion, api.szCSDVersion);
    EXPECT_EQ(WindowsVersionName(true), WindowsVersionNameOf(WindowsVersionInfo, true));
    EXPECT_EQ(WindowsVersionName(true).rfind(L"Windows ", 0), 0u);
}

} // namespace
