// The one recording layer below the hook settings: every call that reaches it
// goes into the trace as text with its arguments ("StopDriver(\"Drv\")"), and
// no call reaches the real injection layer. A layer that keeps state derives
// from it and answers in Respond.
#pragma once

#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hook/MadCodeHookImplementation.h"

class TRecordingHookLayer : public THookLayer {
public:
    explicit TRecordingHookLayer(std::vector<std::wstring>& ATrace) : FTrace(ATrace) {}

    // What every call answers, and the thread's last error it leaves.
    BOOL Answer = TRUE;
    DWORD ErrorToLeave = ERROR_SUCCESS;
    // The modules found loaded and the privileges that cannot be enabled.
    std::set<std::string> LoadedModules;
    std::set<std::string> RefusedPrivileges;

    BOOL InstallDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64,
                       LPCWSTR ADescription) override {
        return Call(L"InstallDriver", {Text(ADriverName), Text(ADriverFile32), Text(ADriverFile64),
                                       Text(ADescription)});
    }
    BOOL LoadDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64) override {
        return Call(L"LoadDriver", {Text(ADriverName), Text(ADriverFile32), Text(ADriverFile64)});
    }
    BOOL UninstallDriver(LPCWSTR ADriverName) override {
        return Call(L"UninstallDriver", {Text(ADriverName)});
    }
    BOOL StartDriver(LPCWSTR ADriverName) override {
        return Call(L"StartDriver", {Text(ADriverName)});
    }
    BOOL StopDriver(LPCWSTR ADriverName) override {
        return Call(L"StopDriver", {Text(ADriverName)});
    }
    BOOL IsDriverInstalled(LPCWSTR ADriverName) override {
        return Call(L"IsDriverInstalled", {Text(ADriverName)});
    }
    BOOL IsDriverRunning(LPCWSTR ADriverName) override {
        return Call(L"IsDriverRunning", {Text(ADriverName)});
    }
    BOOL InjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                       BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                       const void* AReserved, DWORD ATimeout) override {
        return Call(L"InjectLibrary", Injection(ADriverName, ALibraryFile, ATarget, AOtherProcesses,
                                                AIncludeMask, AExcludeMask, AReserved, ATimeout));
    }
    BOOL UninjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                         BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                         const void* AReserved, DWORD ATimeout) override {
        return Call(L"UninjectLibrary",
                    Injection(ADriverName, ALibraryFile, ATarget, AOtherProcesses, AIncludeMask,
                              AExcludeMask, AReserved, ATimeout));
    }
    BOOL UninjectAllLibraries(LPCWSTR ADriverName, const void* AReserved, DWORD ATimeout) override {
        return Call(L"UninjectAllLibraries",
                    {Text(ADriverName), Pointer(AReserved), std::to_wstring(ATimeout)});
    }
    // Not recorded: the outcome the next take answers, once.
    std::optional<TInjectionOutcome> Outcome;
    std::optional<TInjectionOutcome> TakeLastOutcome() override {
        return std::exchange(Outcome, std::nullopt);
    }
    // Recorded as "Module(name)", answered from LoadedModules.
    bool IsModuleLoaded(const std::string& AFileName) override;
    // Recorded as "Privilege(name)", answered from RefusedPrivileges.
    bool EnablePrivilege(const char* APrivilege) override;

protected:
    // The answer to the call of that name, recorded just before: Answer,
    // leaving ErrorToLeave.
    virtual BOOL Respond(const std::wstring& AName);

private:
    BOOL Call(const std::wstring& AName, const std::vector<std::wstring>& AArguments);
    // The arguments of an injection or uninjection.
    static std::vector<std::wstring> Injection(LPCWSTR ADriverName, LPCWSTR ALibraryFile,
                                               DWORD ATarget, BOOL AOtherProcesses,
                                               LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                               const void* AReserved, DWORD ATimeout);
    // A text argument quoted, or null.
    static std::wstring Text(LPCWSTR AText);
    static std::wstring Hex(DWORD AValue);
    static std::wstring Pointer(const void* AValue);

    std::vector<std::wstring>& FTrace;
};
