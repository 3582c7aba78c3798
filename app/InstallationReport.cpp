// The start-up report: the Windows version, the program folder, and for each
// Live Protection file its versions, digest and signature.
#include <cstdio>
#include <cwctype>

#include "FormDERodos.h"
#include "LiveProtectionFiles.h"
#include "ProgramPath.h"
#include "WinText.h"

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

// The certificate's dates as the report shows them: the machine's local time,
// so without a zone designator.
std::string IsoDateTime(const TDateTime& AValue) {
    if (AValue.IsZero())
        return {};
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u", AValue.Year, AValue.Month,
                  AValue.Day, AValue.Hour, AValue.Minute, AValue.Second);
    return text;
}

} // namespace

void TFormDERodos::ReportInstallation() {
    LogSection(L"Windows");
    const std::wstring windowsVersion = FServices.WindowsVersionName(true);
    LogInfo(L"Windows Version: " + windowsVersion);
    LogInfo(ProgramFolder());
    if (FReportFacts) {
        FReportFacts->WindowsVersion = WideToUtf8(windowsVersion);
        FReportFacts->ProgramFolder = WideToUtf8(ProgramFolder());
        FReportFacts->Files.assign(LiveProtectionFiles.size(), {});
        for (size_t index = 0; index < LiveProtectionFiles.size(); ++index) {
            FReportFacts->Files[index].Name = WideToUtf8(LiveProtectionFiles[index]);
            FReportFacts->Files[index].Path = WideToUtf8(LiveProtectionFilePath(index));
        }
    }

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
        if (FReportFacts) {
            TReportFileFacts& facts = FReportFacts->Files[index];
            facts.Present = true;
            facts.FileVersion = WideToUtf8(fileVersion);
            facts.ProductVersion = WideToUtf8(productVersion);
            facts.Sha1 = WideToUtf8(digest);
        }
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
        const std::wstring statusText = FServices.TrustStatusToText(status);
        const std::wstring subject = FServices.TrustSubjectName();
        // "%20s - %s - subject %s"
        std::wstring line = RightAligned(LiveProtectionFiles[index], 20);
        line += L" - ";
        line += statusText;
        line += L" - subject ";
        line += subject;
        LogResult(status == tsSuccess, line);
        if (FReportFacts) {
            TReportFileFacts& facts = FReportFacts->Files[index];
            const TConsoleServices::TSignerDetails signer = FServices.TrustSignerDetails();
            facts.Checked = true;
            facts.StatusCode = static_cast<int>(status);
            facts.Status = WideToUtf8(statusText);
            facts.Subject = WideToUtf8(subject);
            if (const auto result = FServices.TrustResult()) {
                facts.Result = static_cast<std::uint32_t>(result->Code);
                facts.ResultMessage = WideToUtf8(result->Message);
            }
            facts.Issuer = WideToUtf8(signer.Issuer);
            facts.SerialNumber = WideToUtf8(signer.SerialNumber);
            facts.ValidFrom = IsoDateTime(signer.ValidFrom);
            facts.ValidTo = IsoDateTime(signer.ValidTo);
        }
    }
}
