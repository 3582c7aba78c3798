#include "hook/MadCodeHookImplementation.h"

#include "hook/IniFile.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/RegistryValue.h"
#include "platform/WinText.h"

std::array<bool, HookPrivileges.size()> HookPrivilegesEnabled = {};

// --- Privileges ---

bool EnableProcessPrivilege(const char* APrivilege) {
    TKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                            token.addressof()))
        return false;
    TOKEN_PRIVILEGES privileges{};
    if (!::LookupPrivilegeValueA(nullptr, APrivilege, &privileges.Privileges[0].Luid))
        return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = 0;
    return ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(previous), &previous,
                                   &previousSize) != FALSE;
}

// --- Construction ---

std::wstring DriverToolsFolder(HKEY ARoot, const wchar_t* ASubKey,
                               const std::wstring& AProgramFolder) {
    TRegKey key;
    if (::RegOpenKeyExW(ARoot, ASubKey, 0, KEY_READ, key.addressof()) != ERROR_SUCCESS)
        return AProgramFolder;
    // A missing default value reads as empty text; a value that is not text
    // leaves the program's folder.
    const std::optional<std::wstring> folder = ReadStringValue(key.get(), nullptr);
    if (!folder)
        return AProgramFolder;
    return IncludeTrailingPathDelimiter(*folder) + L"madCodeHook\\Driver\\";
}

TMadCodeHookImplementation::TMadCodeHookImplementation()
    : TMadCodeHookImplementation(std::make_unique<THookLayer>()) {}

TMadCodeHookImplementation::TMadCodeHookImplementation(std::unique_ptr<THookLayer> ALayer)
    : FLayer(std::move(ALayer)) {
    FInjectionProcessHandle = InjAllSessions;
    FExcludeMask = L"QVOnAccess.exe|MpCmdRun.exe";
    FCompanyName = L"Quorvane-Tessit Ltd.";
    FSignatureLookupString = L"Quorvane Tessit Ltd.";
    FURL = L"http://www.vexlo.example/";
    FDriverDescription = L"Hook Test Driver";
    FSignToolFilename = L"C:\\Program Files\\Microsoft SDKs\\Windows\\v7.1\\Bin\\signtool.exe";
    FMSCVVSClass3Filename = L"G:\\Tools\\MSSDK\\MSCV-VSClass3.cer";
    FDriverPath = DriverToolsFolder(HKEY_LOCAL_MACHINE, MadCollectionKey, ProgramFolder());
}

TMadCodeHookImplementation::~TMadCodeHookImplementation() = default;

// --- Driver and injection operations ---

void TMadCodeHookImplementation::EnablePrivileges() {
    for (size_t i = 0; i < HookPrivileges.size(); ++i) {
        if (!HookPrivilegesEnabled[i])
            HookPrivilegesEnabled[i] = FLayer->EnablePrivilege(HookPrivileges[i]);
    }
}

bool TMadCodeHookImplementation::IsLibraryInjected() {
    return FLayer->IsModuleLoaded(WideToAnsi(ExtractFileName(FLibraryFilename32))) ||
           FLayer->IsModuleLoaded(WideToAnsi(ExtractFileName(FLibraryFilename64)));
}

// --- Configuration file ---

void TMadCodeHookImplementation::LoadFromFile(const std::wstring& AFilename) {
    FConfigFilename = AFilename;
    LoadFromFile(TIniFile(AFilename));
}

void TMadCodeHookImplementation::LoadFromFile(const TIniFile& AIni) {
    FDriverName = AIni.ReadString(ConfigurationSection, L"DriverName", L"");
    FDriverDescription = AIni.ReadString(ConfigurationSection, L"DriverDescription", L"");
    FDriverFilename32 = AIni.ReadString(ConfigurationSection, L"DriverFilename32", L"");
    FDriverFilename64 = AIni.ReadString(ConfigurationSection, L"DriverFilename64", L"");
    FLibraryFilename32 = AIni.ReadString(ConfigurationSection, L"LibraryFilename32", L"");
    FLibraryFilename64 = AIni.ReadString(ConfigurationSection, L"LibraryFilename64", L"");
}

void TMadCodeHookImplementation::SaveToFile() {
    SaveToFile(FConfigFilename);
}

void TMadCodeHookImplementation::SaveToFile(const std::wstring& AFilename) {
    FConfigFilename = AFilename;
    TIniFile ini(AFilename);
    SaveToFile(ini);
}

void TMadCodeHookImplementation::SaveToFile(TIniFile& AIni) {
    AIni.WriteString(ConfigurationSection, L"DriverName", FDriverName);
    AIni.WriteString(ConfigurationSection, L"DriverDescription", FDriverDescription);
    AIni.WriteString(ConfigurationSection, L"DriverFilename32", FDriverFilename32);
    AIni.WriteString(ConfigurationSection, L"DriverFilename64", FDriverFilename64);
    AIni.WriteString(ConfigurationSection, L"LibraryFilename32", FLibraryFilename32);
    AIni.WriteString(ConfigurationSection, L"LibraryFilename64", FLibraryFilename64);
}
