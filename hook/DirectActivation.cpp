#include "hook/DirectActivation.h"

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
