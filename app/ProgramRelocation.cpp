#include "app/ProgramRelocation.h"

#include <shellapi.h>

#include <algorithm>

#include "app/LiveProtectionFiles.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/RegistryValue.h"
#include "platform/SystemMessage.h"
#include "platform/WholeOrNothing.h"

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
    // The files there before stay until every file of the tool lies there
    // whole; an older copy that cannot leave its name makes the copy fail.
    // The tool ends only once its copy runs; otherwise it goes on where it
    // is, rather than vanishing with nothing started.
    const std::wstring folder = IncludeTrailingPathDelimiter(*location);
    const std::vector<std::wstring> files = ASystem.ToolFiles(AProgramFileName);
    size_t failed = 0;
    DWORD errorCode = 0;
    if (!ASystem.Copy(ExtractFilePath(AProgramFileName), files, folder, failed, errorCode)) {
        ASystem.ShowError(CopyFailedMessage(folder + files.at(failed), errorCode));
        return rlStayed;
    }
    const std::wstring target = RelocationTarget(*location, AProgramFileName);
    if (!ASystem.Start(target, errorCode)) {
        ASystem.ShowError(StartFailedMessage(target, errorCode));
        return rlStayed;
    }
    return rlRelocated;
}

namespace {

// Appends the files below the folder ARelative (ending in "\") of AFolder,
// by their names relative to AFolder, folders below it included. A link to a
// folder is not followed: it may lead anywhere, or back up.
void AddFilesBelow(const std::wstring& AFolder, const std::wstring& ARelative,
                   std::vector<std::wstring>& AFiles) {
    WIN32_FIND_DATAW found{};
    const TFindHandle search(::FindFirstFileW((AFolder + ARelative + L"*").c_str(), &found));
    for (bool more = static_cast<bool>(search); more;
         more = ::FindNextFileW(search.get(), &found) != FALSE) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            AFiles.push_back(ARelative + name);
        else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            AddFilesBelow(AFolder, ARelative + name + L"\\", AFiles);
    }
}

} // namespace

std::vector<std::wstring> ToolFiles(const std::wstring& AProgramFileName) {
    const std::wstring folder = ExtractFilePath(AProgramFileName);
    const std::wstring name = ExtractFileName(AProgramFileName);
    std::vector<std::wstring> files = {name};
    const std::wstring twin = name.substr(0, name.find_last_of(L'.')) + L".com";
    if (::lstrcmpiW(twin.c_str(), name.c_str()) != 0 && ::FileExists(folder + twin))
        files.push_back(twin);
    std::vector<std::wstring> translations;
    AddFilesBelow(folder, L"locale\\", translations);
    std::sort(translations.begin(), translations.end());
    files.insert(files.end(), translations.begin(), translations.end());
    return files;
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

std::vector<std::wstring> TSystemRelocation::ToolFiles(const std::wstring& AProgramFileName) {
    return ::ToolFiles(AProgramFileName);
}

bool TSystemRelocation::Copy(const std::wstring& AFrom, const std::vector<std::wstring>& AFiles,
                             const std::wstring& ATo, std::size_t& AFailed, DWORD& AErrorCode) {
    AErrorCode = CopyWholeOrNothing(AFrom, AFiles, ATo, AFailed);
    return AErrorCode == 0;
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

TRelocation CheckThisProgramFolder(HWND AOwner) {
    TSystemRelocation system(AOwner);
    return CheckProgramFolder(system, ProgramFileName());
}
