// The start-up report: the Windows version, the program folder, and for each
// Live Protection file its versions, digest and signature.
#include <cwctype>

#include "FormDERodos.h"
#include "LiveProtectionFiles.h"
#include "ProgramPath.h"

namespace {

// As "%*s" formats: right-aligned in AWidth characters, never cut.
std::wstring RightAligned(const std::wstring& AText, size_t AWidth) {
    return AText.size() < AWidth ? std::wstring(AWidth - AText.size(), L' ') + AText : AText;
}

std::wstring LowerCase(std::wstring AText) {
    for (wchar_t& character : AText)
        character = static_cast<wchar_t>(std::towlower(character));
    return AText;
}

} // namespace

void TFormDERodos::ReportInstallation() {
    LogSection(L"Windows");
    LogInfo(L"Windows Version: " + FServices.WindowsVersionName(true));
    LogInfo(ProgramFolder());

    LogSection(L"Versions");
    for (size_t index = 0; index < LiveProtectionFiles.size(); ++index) {
        const std::wstring path = LiveProtectionFilePath(index);
        if (!FServices.FileExists(path)) {
            LogFailure(L"Missing file: " + path);
            continue;
        }
        const std::wstring fileVersion = FServices.ReadFileVersion(path);
        const std::wstring productVersion = FServices.ReadProductVersion(path);
        const std::wstring digest = LowerCase(FServices.DigestToText(FServices.DigestFile(path)));
        // "%20s - file %10s product %10s hash %s"
        LogInfo(RightAligned(LiveProtectionFiles[index], 20) + L" - file " +
                RightAligned(fileVersion, 10) + L" product " + RightAligned(productVersion, 10) +
                L" hash " + digest);
    }

    LogSection(L"Signature Test");
    FServices.SetTrustRetrieveProperties(TCertificateFields::All());
    for (size_t index = 0; index < LiveProtectionFiles.size(); ++index) {
        const std::wstring path = LiveProtectionFilePath(index);
        if (!FServices.FileExists(path))
            continue;
        const TTrustStatus status = FServices.CheckFileTrust(path);
        // "%20s - %s - subject %s"
        LogResult(status == tsSuccess, RightAligned(LiveProtectionFiles[index], 20) + L" - " +
                                           FServices.TrustStatusToText(status) + L" - subject " +
                                           FServices.TrustSubjectName());
    }
}
