#include "hook/DirectActivation.h"

#include "diagnostics/CodeMessage.h"
#include "diagnostics/Translate.h"
#include "hook/InjectionRules.h"
#include "platform/SystemMessage.h"

namespace {

std::wstring CodeMessage(const wchar_t* AFormat, DWORD ACode) {
    return FormatCodeMessage(Translate(AFormat), static_cast<int32_t>(ACode), SystemMessage(ACode));
}

} // namespace

std::wstring DriverRefusalLine(DWORD AErrorCode) {
    const wchar_t* advice = DriverRefusalAdvice(AErrorCode);
    return advice ? Translate(advice) : std::wstring();
}

bool InstallHook(THookControls& AHook, const std::function<bool()>& AServiceInject,
                 std::wstring& AErrorMessage, const std::function<DWORD()>& ALastError) {
    if (!AHook.IsInjectionDriverInstalled() && !AHook.InstallInjectionDriver()) {
        AErrorMessage = CodeMessage(
            L"Could not install the Live Protection driver; error code is %d (%s).", ALastError());
        return false;
    }
    if (!AHook.IsInjectionDriverInstalled()) {
        AErrorMessage = Translate(L"Could not install the Live Protection driver.");
        return false;
    }
    if (!AHook.IsInjectionDriverRunning() && !AHook.StartInjectionDriver()) {
        const DWORD error = ALastError();
        AErrorMessage = CodeMessage(
            L"Could not start the Live Protection driver; error code is %d (%s).", error);
        if (const std::wstring advice = DriverRefusalLine(error); !advice.empty())
            AErrorMessage += L"\n" + advice;
        return false;
    }
    if (!AHook.IsInjectionDriverRunning()) {
        AErrorMessage = Translate(L"Could not start the Live Protection driver.");
        return false;
    }
    if (!AHook.IsLibraryInjected() && !AServiceInject() && !AHook.InjectLibrary32() &&
        !AHook.IsLibraryInjected()) {
        AErrorMessage = CodeMessage(
            L"Could not activate the Live Protection driver; error code is %d (%s).", ALastError());
        return false;
    }
    if (!AHook.IsLibraryInjected()) {
        AErrorMessage = Translate(L"Could not activate the Live Protection.");
        return false;
    }
    return true;
}
