#include "DirectActivation.h"

#include "FileScanWebClient.h"
#include "SystemMessage.h"
#include "Translate.h"
#include "VexloHook.h"

namespace {

class TVexloHookSteps : public TActivationSteps {
public:
    explicit TVexloHookSteps(TVexloHook& AHook) : FHook(AHook) {}
    bool IsInjectionDriverInstalled() override { return FHook.IsInjectionDriverInstalled(); }
    bool InstallInjectionDriver() override { return FHook.InstallInjectionDriver(); }
    bool IsInjectionDriverRunning() override { return FHook.IsInjectionDriverRunning(); }
    bool StartInjectionDriver() override { return FHook.StartInjectionDriver(); }
    bool IsLibraryInjected() override { return FHook.IsLibraryInjected(); }
    bool WebServiceInject() override { return ::WebServiceInject(); }
    bool InjectLibrary32() override { return FHook.InjectLibrary32(); }

private:
    TVexloHook& FHook;
};

std::wstring CodeMessage(const wchar_t* AFormat, DWORD ACode) {
    return FormatCodeMessage(Translate(AFormat), static_cast<int32_t>(ACode), SystemMessage(ACode));
}

} // namespace

std::wstring FormatCodeMessage(const std::wstring& AFormat, int32_t ACode,
                               const std::wstring& AText) {
    std::wstring result;
    bool codeDone = false;
    bool textDone = false;
    for (size_t i = 0; i < AFormat.size(); ++i) {
        if (AFormat[i] == L'%' && i + 1 < AFormat.size()) {
            const wchar_t kind = AFormat[i + 1];
            if (kind == L'%') {
                result += L'%';
                ++i;
                continue;
            }
            if (kind == L'd' && !codeDone) {
                result += std::to_wstring(ACode);
                codeDone = true;
                ++i;
                continue;
            }
            if (kind == L's' && codeDone && !textDone) {
                result += AText;
                textDone = true;
                ++i;
                continue;
            }
        }
        result += AFormat[i];
    }
    return result;
}

bool InstallHook(TActivationSteps& ASteps, std::wstring& AErrorMessage) {
    if (!ASteps.IsInjectionDriverInstalled() && !ASteps.InstallInjectionDriver()) {
        AErrorMessage =
            CodeMessage(L"Could not install the Live Protection driver; error code is %d (%s).",
                        ASteps.LastError());
        return false;
    }
    if (!ASteps.IsInjectionDriverInstalled()) {
        AErrorMessage = Translate(L"Could not install the Live Protection driver.");
        return false;
    }
    if (!ASteps.IsInjectionDriverRunning() && !ASteps.StartInjectionDriver()) {
        AErrorMessage =
            CodeMessage(L"Could not start the Live Protection driver; error code is %d (%s).",
                        ASteps.LastError());
        return false;
    }
    if (!ASteps.IsInjectionDriverRunning()) {
        AErrorMessage = Translate(L"Could not start the Live Protection driver.");
        return false;
    }
    if (!ASteps.IsLibraryInjected() && !ASteps.WebServiceInject() && !ASteps.InjectLibrary32() &&
        !ASteps.IsLibraryInjected()) {
        AErrorMessage =
            CodeMessage(L"Could not activate the Live Protection driver; error code is %d (%s).",
                        ASteps.LastError());
        return false;
    }
    if (!ASteps.IsLibraryInjected()) {
        AErrorMessage = Translate(L"Could not activate the Live Protection.");
        return false;
    }
    return true;
}

bool TVexloHook::InstallHook(std::wstring& AErrorMessage) {
    TVexloHookSteps steps(*this);
    return ::InstallHook(steps, AErrorMessage);
}
