#include "app/ProgramRelocation.h"

#include <shellapi.h>

#include "app/AlternativeFiles.h"
#include "app/FormDERodos.h"
#include "app/LiveProtectionFiles.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/RegistryValue.h"
#include "platform/SystemMessage.h"

TRelocation CheckProgramFolder(TRelocationSystem& ASystem, const std::wstring& AProgramFileName) {
    if (ASystem.FileExists(ExtractFilePath(AProgramFileName) + LiveProtectionFiles[0]))
        return rlStayed;
    // Only No declines: a dialog that could not be shown does not stop the offer.
    if (ASystem.Ask(RelocationQuestion) == IDNO)
        return rlStayed;
    // An empty location names no folder: the copy would land in the root of
    // the current drive, where no product file is.
    const std::optional<std::wstring> location = ASystem.ReadInstallLocation();
    if (!location || location->empty()) {
        ASystem.ShowError(InstallLocationUnknown);
        return rlStayed;
    }
    const std::wstring target = RelocationTarget(*location, AProgramFileName);
    // An older copy that cannot be deleted makes the copy fail, which is reported.
    if (ASystem.FileExists(target))
        ASystem.DeleteFileOrLink(target);
    // The tool ends only once its copy runs; otherwise it goes on where it is,
    // rather than vanishing with nothing started.
    DWORD errorCode = 0;
    if (!ASystem.Copy(AProgramFileName, target, errorCode)) {
        ASystem.ShowError(CopyFailedMessage(target, errorCode));
        return rlStayed;
    }
    if (!ASystem.Start(target, errorCode)) {
        ASystem.ShowError(StartFailedMessage(target, errorCode));
        return rlStayed;
    }
    return rlRelocated;
}

std::wstring RelocationTarget(const std::wstring& AInstallLocation,
                              const std::wstring& AProgramFileName) {
    return IncludeTrailingPathDelimiter(AInstallLocation) + ExtractFileName(AProgramFileName);
}

std::wstring CopyFailedMessage(const std::wstring& ATarget, DWORD AErrorCode) {
    return L"Unable to copy the tool to " + ATarget + L": " + SystemMessage(AErrorCode) + L".";
}

std::wstring StartFailedMessage(const std::wstring& ATarget, DWORD AErrorCode) {
    return L"Unable to start " + ATarget + L": " + SystemMessage(AErrorCode) + L".";
}

DWORD ShellExecuteErrorCode(INT_PTR AResult) {
    switch (AResult) {
    case 0:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
        return ERROR_SHARING_VIOLATION;
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
        return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
        return ERROR_DDE_FAIL;
    case SE_ERR_DLLNOTFOUND:
        return ERROR_DLL_NOT_FOUND;
    default:
        // SE_ERR_FNF, SE_ERR_PNF, SE_ERR_ACCESSDENIED, SE_ERR_OOM and
        // ERROR_BAD_FORMAT are the system's codes of the same meaning.
        return static_cast<DWORD>(AResult);
    }
}

// --- The real system ---

bool TSystemRelocation::FileExists(const std::wstring& APath) {
    return ::FileExists(APath);
}

int TSystemRelocation::Ask(const std::wstring& AQuestion) {
    return ::MessageBoxW(FOwner, AQuestion.c_str(), ConfirmationCaption,
                         MB_YESNO | MB_ICONQUESTION);
}

void TSystemRelocation::ShowError(const std::wstring& AMessage) {
    ::MessageBoxW(FOwner, AMessage.c_str(), ErrorCaption, MB_OK | MB_ICONERROR);
}

std::optional<std::wstring> TSystemRelocation::ReadInstallLocation() {
    TRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, VexloUninstallKey, 0, KEY_ALL_ACCESS,
                        key.addressof()) != ERROR_SUCCESS)
        return std::nullopt;
    return ReadStringValue(key.get(), InstallLocationValue);
}

bool TSystemRelocation::DeleteFileOrLink(const std::wstring& APath) {
    return ::DeleteFileOrLink(APath);
}

bool TSystemRelocation::Copy(const std::wstring& AFrom, const std::wstring& ATo,
                             DWORD& AErrorCode) {
    if (::CopyFileW(AFrom.c_str(), ATo.c_str(), FALSE))
        return true;
    AErrorCode = ::GetLastError();
    return false;
}

bool TSystemRelocation::Start(const std::wstring& AProgram, DWORD& AErrorCode) {
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", AProgram.c_str(), L"", L"", SW_SHOW));
    if (result > 32)
        return true;
    AErrorCode = ShellExecuteErrorCode(result);
    return false;
}

// --- The window's start-up step ---

void TFormDERodos::CheckProgramFolder() {
    TSystemRelocation system(FHandle);
    if (::CheckProgramFolder(system, ProgramFileName()) == rlRelocated)
        Terminate(RelocatedExitCode);
}
