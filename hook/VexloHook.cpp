#include "hook/VexloHook.h"

#include <stdexcept>

#include "hook/RemoteThreads.h"
#include "platform/ProgramPath.h"

std::wstring HookDriverFile32 = L".\\QVHookDrv32.sys";
std::wstring HookDriverFile64 = L".\\QVHookDrv64.sys";
std::wstring HookLibraryFile32 = L".\\QVHook32.dll";
std::wstring HookLibraryFile64 = L".\\QVHook64.dll";

namespace {

std::unique_ptr<TVexloHook> TheHookInstance;

} // namespace

void MakeHookFilePathsAbsolute(const std::wstring& AProgramFolder) {
    for (std::wstring* path :
         {&HookDriverFile32, &HookDriverFile64, &HookLibraryFile32, &HookLibraryFile64})
        *path = AProgramFolder + ExtractFileName(*path);
}

TVexloHook::TVexloHook() {
    SetProductSettings();
}

TVexloHook::TVexloHook(std::unique_ptr<THookLayer> ALayer)
    : TMadCodeHookImplementation(std::move(ALayer)) {
    SetProductSettings();
}

void TVexloHook::SetProductSettings() {
    FDriverName = L"QVHookDriver";
    FDriverFilename32 = HookDriverFile32;
    FDriverFilename64 = HookDriverFile64;
    FLibraryFilename32 = HookLibraryFile32;
    FLibraryFilename64 = HookLibraryFile64;
    FInjectionProcessHandle = InjAllSessions;
}

TVexloHook& HookInstance() {
    if (!TheHookInstance)
        throw std::logic_error("HookInstance used outside the program's run");
    return *TheHookInstance;
}

void StartUpVexloHook() {
    MakeHookFilePathsAbsolute(ProgramFolder());
    TheHookInstance = std::make_unique<TVexloHook>();
}

void ShutDownVexloHook() {
    TheHookInstance.reset();
}
