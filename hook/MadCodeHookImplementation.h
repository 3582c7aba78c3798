// vxnMadCodeHookPreparation: the settings of one injection driver and its
// hook library, and the operations on them. Each driver or injection
// operation is one call of the injection layer, made after the process
// privileges have been enabled.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "hook/HookControls.h"
#include "hook/InjectionDriver.h"

class TIniFile;

// Enables a privilege of the process's token; true when AdjustTokenPrivileges
// succeeds. Its last error is not examined, so a privilege the account does
// not hold (the call succeeds with ERROR_NOT_ALL_ASSIGNED) counts as enabled
// and is not asked for again.
bool EnableProcessPrivilege(const char* APrivilege);

// What the hook settings reach below them: the injection layer, its module
// lookup and the enabling of a privilege. Each call is declared once, with
// the real routine as its body; tests put the one recording layer, which
// overrides every call, in its place.
class THookLayer {
public:
    virtual ~THookLayer() = default;
    virtual BOOL InstallDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64,
                               LPCWSTR ADescription) {
        return InjInstallDriver(ADriverName, ADriverFile32, ADriverFile64, ADescription);
    }
    virtual BOOL LoadDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64) {
        return InjLoadDriver(ADriverName, ADriverFile32, ADriverFile64);
    }
    virtual BOOL UninstallDriver(LPCWSTR ADriverName) { return InjUninstallDriver(ADriverName); }
    virtual BOOL StartDriver(LPCWSTR ADriverName) { return InjStartDriver(ADriverName); }
    virtual BOOL StopDriver(LPCWSTR ADriverName) { return InjStopDriver(ADriverName); }
    virtual BOOL IsDriverInstalled(LPCWSTR ADriverName) {
        return InjIsDriverInstalled(ADriverName);
    }
    virtual BOOL IsDriverRunning(LPCWSTR ADriverName) { return InjIsDriverRunning(ADriverName); }
    virtual BOOL InjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                               BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                               const void* AReserved, DWORD ATimeout) {
        return InjInjectLibrary(ADriverName, ALibraryFile, ATarget, AOtherProcesses, AIncludeMask,
                                AExcludeMask, AReserved, ATimeout);
    }
    virtual BOOL UninjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                                 BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                 const void* AReserved, DWORD ATimeout) {
        return InjUninjectLibrary(ADriverName, ALibraryFile, ATarget, AOtherProcesses, AIncludeMask,
                                  AExcludeMask, AReserved, ATimeout);
    }
    virtual BOOL UninjectAllLibraries(LPCWSTR ADriverName, const void* AReserved, DWORD ATimeout) {
        return InjUninjectAllLibraries(ADriverName, AReserved, ATimeout);
    }
    // The outcome of the last injection or uninjection, taken once.
    virtual std::optional<TInjectionOutcome> TakeLastOutcome() { return InjTakeLastOutcome(); }
    // Whether a module of that file name (8-bit ANSI, no folder) is loaded in
    // the calling process.
    virtual bool IsModuleLoaded(const std::string& AFileName) {
        return InjFindModule(AFileName.c_str()).IsStillValid();
    }
    // Enables one privilege of the process's token; true when it is enabled.
    virtual bool EnablePrivilege(const char* APrivilege) {
        return EnableProcessPrivilege(APrivilege);
    }
};

// The privileges made sure of before each driver or injection operation, in
// this order, and which of them are enabled (process-wide). One that could
// not be enabled is tried again before the next operation.
inline constexpr std::array<const char*, 5> HookPrivileges = {
    "SeDebugPrivilege", "SeTcbPrivilege", "SeBackupPrivilege", "SeRestorePrivilege",
    "SeLoadDriverPrivilege"};
extern std::array<bool, HookPrivileges.size()> HookPrivilegesEnabled;

// The hooking library's installation record, whose default value names its folder.
inline constexpr const wchar_t* MadCollectionKey =
    L"SOFTWARE\\Wow6432Node\\Zarvik\\madCollection\\";
// The folder of the driver tools: below the folder the default value of
// ASubKey names, or AProgramFolder when the key does not open or its default
// value is not text.
std::wstring DriverToolsFolder(HKEY ARoot, const wchar_t* ASubKey,
                               const std::wstring& AProgramFolder);

// Milliseconds an injection or uninjection may take over other processes.
inline constexpr DWORD InjectionTimeout = 7000;
// The INI section of the driver settings.
inline constexpr const wchar_t* ConfigurationSection = L"Configuration";

// The files of the driver preparation, as its file-name selector knows them.
enum TBlendFileKind {
    bfkConfigurationTool,
    bfkSignTool,
    bfkTemplate32,
    bfkTemplate64,
    bfkDriver32,
    bfkDriver64,
    bfkLibrary32,
    bfkLibrary64
};

// The hooking library's configuration tool and driver templates, in its
// driver folder.
inline constexpr const wchar_t* ConfigurationToolName = L"madConfigDrv.exe";
inline constexpr const wchar_t* Template32Name = L"renameme32 (with version resource).sys";
inline constexpr const wchar_t* Template64Name = L"renameme64 (with version resource).sys";
// The public Authenticode time-stamping service the signing tool asks.
inline constexpr const wchar_t* TimeStampURL =
    L"http://timestamp.globalsign.com/scripts/timstamp.dll";

class TMadCodeHookImplementation : public THookControls {
public:
    // Bound to the real injection layer.
    TMadCodeHookImplementation();
    explicit TMadCodeHookImplementation(std::unique_ptr<THookLayer> ALayer);
    TMadCodeHookImplementation(const TMadCodeHookImplementation&) = delete;
    TMadCodeHookImplementation& operator=(const TMadCodeHookImplementation&) = delete;
    ~TMadCodeHookImplementation() override;

    // One call of the injection layer each, made after the privileges have
    // been enabled: true exactly when it answered nonzero. The cause of a
    // failure stays the thread's last error.
    bool InstallInjectionDriver() override {
        return Step(&THookLayer::InstallDriver, FDriverName.c_str(), FDriverFilename32.c_str(),
                    FDriverFilename64.c_str(), FDriverDescription.c_str());
    }
    bool LoadInjectionDriver() override {
        return Step(&THookLayer::LoadDriver, FDriverName.c_str(), FDriverFilename32.c_str(),
                    FDriverFilename64.c_str());
    }
    bool UninstallInjectionDriver() override {
        return Step(&THookLayer::UninstallDriver, FDriverName.c_str());
    }
    bool StartInjectionDriver() override {
        return Step(&THookLayer::StartDriver, FDriverName.c_str());
    }
    bool StopInjectionDriver() override {
        return Step(&THookLayer::StopDriver, FDriverName.c_str());
    }
    bool IsInjectionDriverInstalled() override {
        return Step(&THookLayer::IsDriverInstalled, FDriverName.c_str());
    }
    bool IsInjectionDriverRunning() override {
        return Step(&THookLayer::IsDriverRunning, FDriverName.c_str());
    }
    // The two driver questions' zero tells its reason by the last error the
    // layer leaves: a "no", or the error that kept the answer.
    TAnswer AskInjectionDriverInstalled() override {
        return Ask(&TMadCodeHookImplementation::IsInjectionDriverInstalled);
    }
    TAnswer AskInjectionDriverRunning() override {
        return Ask(&TMadCodeHookImplementation::IsInjectionDriverRunning);
    }
    bool InjectLibrary32() override {
        return Step(&THookLayer::InjectLibrary, FDriverName.c_str(), FLibraryFilename32.c_str(),
                    FInjectionProcessHandle, FlagTrue, MaskOrNull(FIncludeMask),
                    MaskOrNull(FExcludeMask), nullptr, InjectionTimeout);
    }
    bool UnInjectLibrary32() override {
        return Step(&THookLayer::UninjectLibrary, FDriverName.c_str(), FLibraryFilename32.c_str(),
                    FInjectionProcessHandle, FlagTrue, nullptr, nullptr, nullptr, InjectionTimeout);
    }
    bool UnInjectAllLibraries32() override {
        return Step(&THookLayer::UninjectAllLibraries, FDriverName.c_str(), nullptr,
                    InjectionTimeout);
    }
    std::optional<TInjectionOutcome> TakeInjectionOutcome() override {
        return FLayer->TakeLastOutcome();
    }
    // Whether a module named like the 32-bit or, failing that, the 64-bit
    // library is loaded in this process, wherever it was loaded from.
    bool IsLibraryInjected() override;

    // The six driver settings in the section "Configuration". A missing file,
    // section or key empties the setting. Saving keeps the file's other
    // sections and keys; an error while writing raises std::system_error.
    void LoadFromFile(const std::wstring& AFilename);
    void LoadFromFile(const TIniFile& AIni);
    void SaveToFile();
    void SaveToFile(const std::wstring& AFilename);
    void SaveToFile(TIniFile& AIni);

    // Builds the product's pair of injection drivers from the hooking
    // library's templates: signs the hook libraries unless they are trusted
    // already, copies both templates to the driver files, configures each
    // copy for the hook libraries with the configuration tool and signs both
    // drivers. Log holds the run's lines, the tools' output among them; the
    // run ends at the first failure. True when every step succeeded.
    bool BlendFiles();
    // The signing tool's parameters for signing AFilename under ADescription.
    std::wstring GetSignToolCommandLine(const std::wstring& AFilename,
                                        const std::wstring& ADescription) const;

    const std::wstring& CompanyName() const { return FCompanyName; }
    void SetCompanyName(const std::wstring& AValue) { FCompanyName = AValue; }
    const std::wstring& URL() const { return FURL; }
    void SetURL(const std::wstring& AValue) { FURL = AValue; }
    const std::wstring& SignatureLookupString() const { return FSignatureLookupString; }
    void SetSignatureLookupString(const std::wstring& AValue) { FSignatureLookupString = AValue; }
    const std::wstring& DriverPath() const { return FDriverPath; }
    const std::wstring& DriverDescription() const { return FDriverDescription; }
    const std::wstring& DriverName() const { return FDriverName; }
    void SetDriverName(const std::wstring& AValue) { FDriverName = AValue; }
    const std::wstring& DriverFilename32() const { return FDriverFilename32; }
    void SetDriverFilename32(const std::wstring& AValue) { FDriverFilename32 = AValue; }
    const std::wstring& DriverFilename64() const { return FDriverFilename64; }
    void SetDriverFilename64(const std::wstring& AValue) { FDriverFilename64 = AValue; }
    const std::wstring& LibraryFilename32() const { return FLibraryFilename32; }
    void SetLibraryFilename32(const std::wstring& AValue) { FLibraryFilename32 = AValue; }
    const std::wstring& LibraryFilename64() const { return FLibraryFilename64; }
    void SetLibraryFilename64(const std::wstring& AValue) { FLibraryFilename64 = AValue; }
    const std::vector<std::wstring>& Log() const { return FLog; }
    DWORD InjectionProcessHandle() const { return FInjectionProcessHandle; }
    void SetInjectionProcessHandle(DWORD AValue) { FInjectionProcessHandle = AValue; }
    const std::wstring& IncludeMask() const { return FIncludeMask; }
    void SetIncludeMask(const std::wstring& AValue) { FIncludeMask = AValue; }
    const std::wstring& ExcludeMask() const { return FExcludeMask; }
    void SetExcludeMask(const std::wstring& AValue) { FExcludeMask = AValue; }

protected:
    std::wstring FConfigFilename;
    std::wstring FSignToolFilename;
    std::wstring FDriverPath;
    std::wstring FDriverName;
    std::wstring FDriverFilename32;
    std::wstring FDriverFilename64;
    std::wstring FMSCVVSClass3Filename;
    std::vector<std::wstring> FLog;
    std::wstring FLibraryFilename32;
    std::wstring FLibraryFilename64;
    std::wstring FDriverDescription;
    DWORD FInjectionProcessHandle;
    std::wstring FCompanyName;
    std::wstring FSignatureLookupString;
    std::wstring FURL;
    std::wstring FExcludeMask;
    std::wstring FIncludeMask;

private:
    // The injection flag goes as a true Boolean of the layer's callers: all bits set.
    static constexpr BOOL FlagTrue = -1;
    // An empty setting is passed as null where the layer takes a mask.
    static LPCWSTR MaskOrNull(const std::wstring& AMask) {
        return AMask.empty() ? nullptr : AMask.c_str();
    }
    template <class... TParameters>
    bool Step(BOOL (THookLayer::*ACall)(TParameters...),
              std::type_identity_t<TParameters>... AArguments) {
        EnablePrivileges();
        return (FLayer.get()->*ACall)(AArguments...) != 0;
    }
    void EnablePrivileges();
    TAnswer Ask(bool (TMadCodeHookImplementation::*AQuestion)()) {
        ::SetLastError(ERROR_SUCCESS);
        const bool yes = (this->*AQuestion)();
        return ServiceAnswer(yes, ::GetLastError());
    }
    // The file-name selector of the driver preparation.
    std::wstring GetFilename(TBlendFileKind AKind) const;
    // Runs the tool hidden with AParameters and appends its output lines,
    // then its error lines, to the log; true when it ended with exit code 0.
    bool RunTool(TBlendFileKind ATool, const std::wstring& AParameters);

    std::unique_ptr<THookLayer> FLayer;
};
