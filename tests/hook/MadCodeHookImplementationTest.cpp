#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <system_error>

#include "hook/IniFile.h"
#include "hook/MadCodeHookImplementation.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"
#include "tests/hook/HookTestSupport.h"
#include "tests/support/RecordingHookLayer.h"

namespace {

// Shows the fields no property shows.
class TTestableHook : public TMadCodeHookImplementation {
public:
    using TMadCodeHookImplementation::TMadCodeHookImplementation;
    const std::wstring& ConfigFilename() const { return FConfigFilename; }
    const std::wstring& SignToolFilename() const { return FSignToolFilename; }
    const std::wstring& MSCVVSClass3Filename() const { return FMSCVVSClass3Filename; }
};

class MadCodeHookImplementation : public testing::Test {
protected:
    void SetUp() override { HookPrivilegesEnabled.fill(false); }

    // A hook on a recording layer; FLayer stays usable to steer it.
    std::unique_ptr<TTestableHook> NewHook() {
        auto layer = std::make_unique<TRecordingHookLayer>(FTrace);
        FLayer = layer.get();
        return std::make_unique<TTestableHook>(std::move(layer));
    }

    std::vector<std::wstring> FTrace;
    TRecordingHookLayer* FLayer = nullptr;
};

using TOperation = std::function<bool(TMadCodeHookImplementation&)>;

struct TOperationCase {
    const char* Name;
    TOperation Operation;
    const wchar_t* Call; // what reaches the layer with the settings of the test
};

const TOperationCase Operations[] = {
    {"InstallInjectionDriver", &TMadCodeHookImplementation::InstallInjectionDriver,
     L"InstallDriver(\"Drv\", \"C:\\d32.sys\", \"C:\\d64.sys\", \"Hook Test Driver\")"},
    {"LoadInjectionDriver", &TMadCodeHookImplementation::LoadInjectionDriver,
     L"LoadDriver(\"Drv\", \"C:\\d32.sys\", \"C:\\d64.sys\")"},
    {"UninstallInjectionDriver", &TMadCodeHookImplementation::UninstallInjectionDriver,
     L"UninstallDriver(\"Drv\")"},
    {"StartInjectionDriver", &TMadCodeHookImplementation::StartInjectionDriver,
     L"StartDriver(\"Drv\")"},
    {"StopInjectionDriver", &TMadCodeHookImplementation::StopInjectionDriver,
     L"StopDriver(\"Drv\")"},
    {"IsInjectionDriverInstalled", &TMadCodeHookImplementation::IsInjectionDriverInstalled,
     L"IsDriverInstalled(\"Drv\")"},
    {"IsInjectionDriverRunning", &TMadCodeHookImplementation::IsInjectionDriverRunning,
     L"IsDriverRunning(\"Drv\")"},
    {"InjectLibrary32", &TMadCodeHookImplementation::InjectLibrary32,
     L"InjectLibrary(\"Drv\", \"C:\\l32.dll\", 0xFFFFFFFF, -1, null, "
     L"\"QVOnAccess.exe|MpCmdRun.exe\", null, 7000)"},
    {"UnInjectLibrary32", &TMadCodeHookImplementation::UnInjectLibrary32,
     L"UninjectLibrary(\"Drv\", \"C:\\l32.dll\", 0xFFFFFFFF, -1, null, null, null, 7000)"},
    {"UnInjectAllLibraries32", &TMadCodeHookImplementation::UnInjectAllLibraries32,
     L"UninjectAllLibraries(\"Drv\", null, 7000)"},
};

void SetDriverSettings(TMadCodeHookImplementation& AHook) {
    AHook.SetDriverName(L"Drv");
    AHook.SetDriverFilename32(L"C:\\d32.sys");
    AHook.SetDriverFilename64(L"C:\\d64.sys");
    AHook.SetLibraryFilename32(L"C:\\l32.dll");
    AHook.SetLibraryFilename64(L"C:\\l64.dll");
}

TEST_F(MadCodeHookImplementation, StartsWithTheDefaults) {
    const auto hook = NewHook();
    const std::wstring programFolder = ProgramFolder();
    const struct {
        const char* Field;
        std::wstring Value;
        std::wstring Expected;
    } cases[] = {
        {"ConfigFilename", hook->ConfigFilename(), L""},
        {"SignToolFilename", hook->SignToolFilename(),
         L"C:\\Program Files\\Microsoft SDKs\\Windows\\v7.1\\Bin\\signtool.exe"},
        // No hooking library is installed in the test prefix.
        {"DriverPath", hook->DriverPath(), programFolder},
        {"DriverName", hook->DriverName(), L""},
        {"DriverFilename32", hook->DriverFilename32(), L""},
        {"DriverFilename64", hook->DriverFilename64(), L""},
        {"MSCVVSClass3Filename", hook->MSCVVSClass3Filename(),
         L"G:\\Tools\\MSSDK\\MSCV-VSClass3.cer"},
        {"LibraryFilename32", hook->LibraryFilename32(), L""},
        {"LibraryFilename64", hook->LibraryFilename64(), L""},
        {"DriverDescription", hook->DriverDescription(), L"Hook Test Driver"},
        {"CompanyName", hook->CompanyName(), L"Quorvane-Tessit Ltd."},
        {"SignatureLookupString", hook->SignatureLookupString(), L"Quorvane Tessit Ltd."},
        {"ExcludeMask", hook->ExcludeMask(), L"QVOnAccess.exe|MpCmdRun.exe"},
        {"IncludeMask", hook->IncludeMask(), L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Value, c.Expected) << c.Field;
    EXPECT_EQ(hook->InjectionProcessHandle(), 0xFFFFFFFFu);
    EXPECT_TRUE(hook->Log().empty());
    const std::wstring& url = hook->URL();
    EXPECT_EQ(url.rfind(L"http://", 0), 0u);
    EXPECT_EQ(url.back(), L'/');
    EXPECT_TRUE(FTrace.empty()) << "construction reaches no layer";
}

TEST_F(MadCodeHookImplementation, EachOperationPassesItsSettingsInOrder) {
    for (const TOperationCase& c : Operations) {
        const auto hook = NewHook();
        SetDriverSettings(*hook);
        EXPECT_TRUE(c.Operation(*hook)) << c.Name;
        ASSERT_FALSE(FTrace.empty());
        EXPECT_EQ(FTrace.back(), c.Call) << c.Name;
    }
}

TEST_F(MadCodeHookImplementation, EmptySettingsPassAsEmptyTextAndEmptyMasksAsNull) {
    const auto hook = NewHook();
    hook->SetExcludeMask(L"");
    hook->SetIncludeMask(L"a.exe|b.exe");
    hook->InstallInjectionDriver();
    EXPECT_EQ(FTrace.back(), L"InstallDriver(\"\", \"\", \"\", \"Hook Test Driver\")");
    hook->InjectLibrary32();
    EXPECT_EQ(FTrace.back(),
              L"InjectLibrary(\"\", \"\", 0xFFFFFFFF, -1, \"a.exe|b.exe\", null, null, 7000)");
    hook->SetInjectionProcessHandle(1);
    hook->UnInjectLibrary32();
    EXPECT_EQ(FTrace.back(),
              L"UninjectLibrary(\"\", \"\", 0x00000001, -1, null, null, null, 7000)");
}

TEST_F(MadCodeHookImplementation, TheAnswerIsWhetherTheLayerAnsweredNonzero) {
    for (const TOperationCase& c : Operations) {
        const auto hook = NewHook();
        for (const BOOL answer : {0, 1, 2, -1}) {
            FLayer->Answer = answer;
            EXPECT_EQ(c.Operation(*hook), answer != 0) << c.Name << " " << answer;
        }
    }
}

TEST_F(MadCodeHookImplementation, TheLayersLastErrorReachesTheCaller) {
    for (const TOperationCase& c : Operations) {
        const auto hook = NewHook();
        FLayer->Answer = FALSE;
        FLayer->ErrorToLeave = 1234;
        FLayer->RefusedPrivileges = {"SeTcbPrivilege"};
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(c.Operation(*hook)) << c.Name;
        EXPECT_EQ(::GetLastError(), 1234u) << c.Name;
    }
}

// The driver questions as the state test asks them: the layer's answer and
// the last error it left go to the one rule (ServiceAnswer, tabled in
// AnswerTest), read before anything else can change the error.
TEST_F(MadCodeHookImplementation, TheDriverQuestionsKnowANoFromARefusal) {
    const struct {
        BOOL Answer;
        DWORD Error;
        TAnswer Expected;
    } cases[] = {
        {TRUE, ERROR_SUCCESS, TAnswer::Of(true)},
        {FALSE, ERROR_SERVICE_DOES_NOT_EXIST, TAnswer::Of(false)},
        {FALSE, ERROR_ACCESS_DENIED, TAnswer::Unknown(ERROR_ACCESS_DENIED)},
    };
    for (const auto& row : cases) {
        const auto hook = NewHook();
        SetDriverSettings(*hook);
        FLayer->Answer = row.Answer;
        FLayer->ErrorToLeave = row.Error;
        EXPECT_EQ(hook->AskInjectionDriverInstalled(), row.Expected) << row.Error;
        EXPECT_EQ(FTrace.back(), L"IsDriverInstalled(\"Drv\")");
        EXPECT_EQ(hook->AskInjectionDriverRunning(), row.Expected) << row.Error;
        EXPECT_EQ(FTrace.back(), L"IsDriverRunning(\"Drv\")");
    }
    const auto hook = NewHook();
    FLayer->LoadedModules = {"l64.dll"};
    SetDriverSettings(*hook);
    EXPECT_EQ(hook->AskLibraryInjected(), TAnswer::Of(true));
}

TEST_F(MadCodeHookImplementation, PrivilegesComeFirstAndFailedOnesAreTriedAgain) {
    const std::vector<std::wstring> all = {
        L"Privilege(SeDebugPrivilege)", L"Privilege(SeTcbPrivilege)",
        L"Privilege(SeBackupPrivilege)", L"Privilege(SeRestorePrivilege)",
        L"Privilege(SeLoadDriverPrivilege)"};
    for (const TOperationCase& c : Operations) {
        HookPrivilegesEnabled.fill(false);
        FTrace.clear();
        const auto hook = NewHook();
        FLayer->RefusedPrivileges = {"SeTcbPrivilege"};
        c.Operation(*hook);
        std::vector<std::wstring> expected = all;
        expected.push_back(FTrace.back());
        EXPECT_EQ(FTrace, expected) << c.Name;

        FTrace.clear();
        c.Operation(*hook);
        EXPECT_EQ(FTrace.size(), 2u) << c.Name;
        EXPECT_EQ(FTrace.front(), L"Privilege(SeTcbPrivilege)") << c.Name;
    }
    // The flags are the process's: another object does not ask again either.
    FTrace.clear();
    const auto other = NewHook();
    FLayer->RefusedPrivileges.clear();
    other->StartInjectionDriver();
    other->StartInjectionDriver();
    EXPECT_EQ(FTrace, (std::vector<std::wstring>{L"Privilege(SeTcbPrivilege)", L"StartDriver(\"\")",
                                                 L"StartDriver(\"\")"}));
    EXPECT_TRUE(std::all_of(HookPrivilegesEnabled.begin(), HookPrivilegesEnabled.end(),
                            [](bool AEnabled) { return AEnabled; }));
}

TEST_F(MadCodeHookImplementation, IsLibraryInjectedLooksForThe32BitNameFirst) {
    const std::string umlaut = WideToAnsi(L"Pr\u00fcf32.dll");
    const struct {
        const wchar_t* Library32;
        const wchar_t* Library64;
        std::set<std::string> Loaded;
        bool Injected;
        std::vector<std::wstring> Lookups;
    } cases[] = {
        {L"C:\\P\\QVHook32.dll",
         L"C:\\P\\QVHook64.dll",
         {"QVHook32.dll"},
         true,
         {L"Module(QVHook32.dll)"}},
        {L"C:\\P\\QVHook32.dll",
         L"C:\\P\\QVHook64.dll",
         {"QVHook64.dll"},
         true,
         {L"Module(QVHook32.dll)", L"Module(QVHook64.dll)"}},
        {L"C:\\P\\QVHook32.dll",
         L"C:\\P\\QVHook64.dll",
         {},
         false,
         {L"Module(QVHook32.dll)", L"Module(QVHook64.dll)"}},
        {L"D:QVHook32.dll", L"", {"QVHook64.dll"}, false, {L"Module(QVHook32.dll)", L"Module()"}},
        {L"C:\\P\\Pr\u00fcf32.dll", L"x", {umlaut}, true, {L"Module(" + Utf8ToWide(umlaut) + L")"}},
    };
    for (const auto& c : cases) {
        FTrace.clear();
        const auto hook = NewHook();
        hook->SetLibraryFilename32(c.Library32);
        hook->SetLibraryFilename64(c.Library64);
        FLayer->LoadedModules = c.Loaded;
        EXPECT_EQ(hook->IsLibraryInjected(), c.Injected) << WideToUtf8(c.Library32);
        EXPECT_EQ(FTrace, c.Lookups) << "no privileges, only lookups: " << WideToUtf8(c.Library32);
    }
}

// --- The enabling of one privilege, on the real token ---

TEST(EnableProcessPrivilege, CountsEveryPrivilegeTheAdjustmentAccepts) {
    const struct {
        const char* Privilege;
        bool Enabled;
    } cases[] = {
        {"SeDebugPrivilege", true},
        {"SeLoadDriverPrivilege", true},
        // Not held by the token: AdjustTokenPrivileges succeeds with
        // ERROR_NOT_ALL_ASSIGNED, and the last error is not examined.
        {"SeCreateTokenPrivilege", true},
        // The name is not found, so nothing is adjusted.
        {"SeNoSuchPrivilege", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EnableProcessPrivilege(c.Privilege), c.Enabled) << c.Privilege;
}

TEST(EnableProcessPrivilege, TheUnheldPrivilegeIsTheCaseOfNotAllAssigned) {
    TKernelHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                   token.addressof()));
    TOKEN_PRIVILEGES privileges{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(
        ::LookupPrivilegeValueA(nullptr, "SeCreateTokenPrivilege", &privileges.Privileges[0].Luid));
    EXPECT_TRUE(::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
}

// --- The driver tools folder ---

TEST(DriverToolsFolder, ComesFromTheDefaultValueOfTheKey) {
    const std::wstring key = L"Software\\DerodoHookTest\\" + TestUniqueName(L"");
    const DWORD number = 7;
    const std::wstring fallback = L"C:\\Program\\";
    const struct {
        const char* Name;
        bool KeyExists;
        DWORD Type; // REG_NONE: no default value
        std::wstring Value;
        std::wstring Expected;
    } cases[] = {
        {"absent key", false, REG_NONE, L"", fallback},
        {"no default value", true, REG_NONE, L"", L"\\madCodeHook\\Driver\\"},
        {"empty", true, REG_SZ, L"", L"\\madCodeHook\\Driver\\"},
        {"folder", true, REG_SZ, L"D:\\mc", L"D:\\mc\\madCodeHook\\Driver\\"},
        {"folder with backslash", true, REG_SZ, L"D:\\mc\\", L"D:\\mc\\madCodeHook\\Driver\\"},
        {"unexpanded", true, REG_EXPAND_SZ, L"%ProgramFiles%\\mc",
         L"%ProgramFiles%\\mc\\madCodeHook\\Driver\\"},
        {"not text", true, REG_DWORD, L"", fallback},
    };
    for (const auto& c : cases) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        if (c.KeyExists) {
            TRegKey created;
            ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE, nullptr, created.addressof(), nullptr),
                      ERROR_SUCCESS);
            if (c.Type == REG_DWORD)
                ::RegSetValueExW(created.get(), nullptr, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&number), sizeof(number));
            else if (c.Type != REG_NONE)
                ::RegSetValueExW(created.get(), nullptr, 0, c.Type,
                                 reinterpret_cast<const BYTE*>(c.Value.c_str()),
                                 static_cast<DWORD>((c.Value.size() + 1) * sizeof(wchar_t)));
        }
        EXPECT_EQ(DriverToolsFolder(HKEY_CURRENT_USER, key.c_str(), fallback), c.Expected)
            << c.Name;
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// --- The configuration file ---

std::wstring ReadIni(const std::wstring& AFile, const wchar_t* ASection, const wchar_t* AKey) {
    wchar_t value[512] = {};
    ::GetPrivateProfileStringW(ASection, AKey, L"<missing>", value, 512, AFile.c_str());
    return value;
}

void SetSixSettings(TMadCodeHookImplementation& AHook, const std::wstring& AMark) {
    AHook.SetDriverName(L"Driver" + AMark);
    AHook.SetDriverFilename32(L"C:\\Pr\u00fcfung\\Drv32" + AMark + L".sys");
    AHook.SetDriverFilename64(L"C:\\\u03a9\\Drv64" + AMark + L".sys");
    AHook.SetLibraryFilename32(L"C:\\L\\Lib32" + AMark + L".dll");
    AHook.SetLibraryFilename64(L"C:\\L\\Lib64" + AMark + L".dll");
}

std::vector<std::wstring> SixSettings(const TTestableHook& AHook) {
    return {AHook.DriverName(),       AHook.DriverDescription(), AHook.DriverFilename32(),
            AHook.DriverFilename64(), AHook.LibraryFilename32(), AHook.LibraryFilename64()};
}

TEST_F(MadCodeHookImplementation, SavesAndLoadsTheSixDriverSettings) {
    const TScratchFolder folder;
    const std::wstring file = folder.Path() + L"hook.ini";
    const auto saved = NewHook();
    SetSixSettings(*saved, L"A");
    saved->SaveToFile(file);
    EXPECT_EQ(saved->ConfigFilename(), file);

    const auto loaded = NewHook();
    loaded->LoadFromFile(file);
    EXPECT_EQ(SixSettings(*loaded), SixSettings(*saved));
    EXPECT_EQ(loaded->ConfigFilename(), file);

    // Exactly these keys, in this order.
    wchar_t section[2048] = {};
    const DWORD length = ::GetPrivateProfileSectionW(L"Configuration", section, 2048, file.c_str());
    std::vector<std::wstring> keys;
    for (const wchar_t* line = section; line < section + length && *line;
         line += ::lstrlenW(line) + 1)
        keys.push_back(std::wstring(line).substr(0, std::wstring(line).find(L'=')));
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"DriverName", L"DriverDescription",
                                               L"DriverFilename32", L"DriverFilename64",
                                               L"LibraryFilename32", L"LibraryFilename64"}));
}

TEST_F(MadCodeHookImplementation, SavingKeepsTheRestOfTheFile) {
    const TScratchFolder folder;
    const std::wstring file = folder.Write(
        L"hook.ini", "[Other]\r\nKey=Value\r\n[Configuration]\r\nDriverName=Old\r\nExtra=Kept\r\n");
    const auto hook = NewHook();
    hook->SetDriverName(L"New");
    hook->SaveToFile(file);
    EXPECT_EQ(ReadIni(file, L"Other", L"Key"), L"Value");
    EXPECT_EQ(ReadIni(file, L"Configuration", L"Extra"), L"Kept");
    EXPECT_EQ(ReadIni(file, L"Configuration", L"DriverName"), L"New");

    // Without a name: the file named last.
    hook->SetDriverName(L"Newer");
    hook->SaveToFile();
    EXPECT_EQ(ReadIni(file, L"Configuration", L"DriverName"), L"Newer");
}

TEST_F(MadCodeHookImplementation, LoadingWithoutTheSectionEmptiesTheSettings) {
    const TScratchFolder folder;
    const std::wstring files[] = {
        folder.Path() + L"missing.ini",
        folder.Write(L"other.ini", "[Other]\r\nDriverName=Elsewhere\r\n"),
        folder.Write(L"partial.ini", "[Configuration]\r\nDriverName=Only\r\n"),
    };
    for (const std::wstring& file : files) {
        const auto hook = NewHook();
        SetSixSettings(*hook, L"B");
        hook->SetCompanyName(L"Unchanged");
        hook->LoadFromFile(file);
        const std::wstring name = file == files[2] ? L"Only" : L"";
        EXPECT_EQ(SixSettings(*hook), (std::vector<std::wstring>{name, L"", L"", L"", L"", L""}))
            << WideToUtf8(file);
        EXPECT_EQ(hook->CompanyName(), L"Unchanged");
    }
}

TEST_F(MadCodeHookImplementation, ARelativeFileNameMeansTheCurrentFolder) {
    const TScratchFolder folder;
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.Path().c_str()));
    const auto hook = NewHook();
    hook->SetDriverName(L"Relative");
    hook->SaveToFile(L"relative.ini");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(ReadIni(folder.Path() + L"relative.ini", L"Configuration", L"DriverName"),
              L"Relative");
}

TEST_F(MadCodeHookImplementation, AFailedWriteRaises) {
    const TScratchFolder folder;
    const auto hook = NewHook();
    EXPECT_THROW(hook->SaveToFile(folder.Path() + L"no such folder\\hook.ini"), std::system_error);
    const auto unnamed = NewHook();
    EXPECT_THROW(unnamed->SaveToFile(), std::system_error);
}

} // namespace
