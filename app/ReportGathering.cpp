#include "app/ReportGathering.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <iterator>
#include <thread>
#include <utility>

#include "app/LiveProtectionFiles.h"
#include "fileinfo/WindowsVersion.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/SystemMessage.h"

namespace {

static_assert(TrustedStatusCode == tsSuccess);

std::wstring LowerCase(std::wstring AText) {
    for (wchar_t& character : AText)
        character = static_cast<wchar_t>(std::towlower(character));
    return AText;
}

// The certificate's dates as the report shows them: the machine's local time,
// so without a zone designator.
std::wstring IsoDateTime(const TDateTime& AValue) {
    if (AValue.IsZero())
        return {};
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%04u-%02u-%02uT%02u:%02u:%02u", AValue.Year,
                  AValue.Month, AValue.Day, AValue.Hour, AValue.Minute, AValue.Second);
    return text;
}

TWindowsFacts WindowsFacts(TConsoleServices& AServices) {
    TWindowsFacts windows;
    windows.Version = AServices.WindowsVersionName(true);
    const TConsoleServices::TWindowsNumbers numbers = AServices.WindowsVersionNumbers();
    windows.Name = WindowsReleaseName(numbers.Major, numbers.Minor, numbers.Build);
    windows.Major = numbers.Major;
    windows.Minor = numbers.Minor;
    windows.Build = numbers.Build;
    return windows;
}

// The Versions block's facts of one file.
TReportFileFacts FileFacts(TConsoleServices& AServices, size_t AIndex, TFactsFor AFor) {
    TReportFileFacts file;
    file.Name = LiveProtectionFiles[AIndex];
    file.Path = LiveProtectionFilePath(AIndex);
    if (!AServices.FileExists(file.Path))
        return file;
    TVersionTexts versions = AServices.ReadVersionTexts(file.Path);
    file.FileVersion = std::move(versions.FileVersion);
    file.ProductVersion = std::move(versions.ProductVersion);
    TConsoleServices::TReadError error;
    if (TFileDigest digest; AServices.DigestFile(file.Path, digest, error))
        file.Sha1 = LowerCase(AServices.DigestToText(digest));
    else
        file.Sha1Failure = TReadFailure{error.Code, error.Message};
    if (AFor == TFactsFor::Json) {
        file.Size = AServices.FileSize(file.Path);
        if (!AServices.FileSha256(file.Path, file.Sha256, error))
            file.Sha256Failure = TReadFailure{error.Code, error.Message};
    }
    file.Present = true;
    return file;
}

// The check of one file and what it left in the trust checker.
TSignatureFacts SignatureFacts(TConsoleServices& AServices, const std::wstring& APath) {
    TSignatureFacts signature;
    const TTrustStatus status = AServices.CheckFileTrust(APath);
    signature.StatusCode = static_cast<int>(status);
    signature.Status = AServices.TrustStatusToText(status);
    signature.Subject = AServices.TrustSubjectName();
    if (const auto result = AServices.TrustResult()) {
        signature.Result = static_cast<std::uint32_t>(result->Code);
        signature.ResultMessage = result->Message;
    }
    const TConsoleServices::TSignerDetails signer = AServices.TrustSignerDetails();
    signature.Issuer = signer.Issuer;
    signature.SerialNumber = signer.SerialNumber;
    signature.ValidFrom = IsoDateTime(signer.ValidFrom);
    signature.ValidTo = IsoDateTime(signer.ValidTo);
    return signature;
}

void GatherInstallation(TConsoleServices& AServices, TFactsFor AFor, TInstallationFacts& AFacts) {
    AFacts.Windows = WindowsFacts(AServices);
    AFacts.ProgramFolder = ProgramFolder();
    for (size_t index = 0; index < LiveProtectionFiles.size(); ++index)
        AFacts.Files.push_back(FileFacts(AServices, index, AFor));

    AFacts.SignaturesBegun = true;
    AServices.SetTrustRetrieveProperties(TCertificateFields::All());
    for (TReportFileFacts& file : AFacts.Files) {
        // Asked again: the Versions block may have been written long before.
        if (AServices.FileExists(file.Path))
            file.Signature = SignatureFacts(AServices, file.Path);
    }
}

// Keeps AAnswer, with the system's words for the error of an unknown one.
void Keep(std::optional<TAnswer>& AKept, TAnswer AAnswer, TStateFacts& AFacts) {
    AKept = AAnswer;
    if (!AAnswer.IsKnown() && !AFacts.ErrorTexts.contains(AAnswer.Error))
        AFacts.ErrorTexts[AAnswer.Error] = SystemMessage(AAnswer.Error);
}

void GatherState(TConsoleServices& AServices, TStateFacts& AFacts) {
    AFacts.Elevated = AServices.RunsElevated();
    Keep(AFacts.Installed, AServices.Hook().AskInjectionDriverInstalled(), AFacts);
    Keep(AFacts.Running, AServices.Hook().AskInjectionDriverRunning(), AFacts);
    Keep(AFacts.Injected, AServices.Hook().AskLibraryInjected(), AFacts);
    Keep(AFacts.ServicePresence, AServices.AskFileScanServiceExists(), AFacts);
    Keep(AFacts.ServiceRunning, AServices.AskFileScanServiceRunning(), AFacts);
}

// Runs AGather on the facts and keeps the error that ends it.
template <class TFacts, class TGather> TGathered<TFacts> GatherKeepingError(TGather AGather) {
    TGathered<TFacts> gathered;
    try {
        AGather(gathered.Facts);
    } catch (...) {
        gathered.Error = std::current_exception();
    }
    return gathered;
}

// Waits for AFinished while this thread answers the messages other threads
// send it: the window's thread gathers, and a system call on the asking
// thread that sends to a window of this thread's would otherwise wait for it
// while it waits here. Nothing posted (a click, a key) is taken meanwhile.
void WaitLettingSentMessagesThrough(HANDLE AFinished) {
    while (::MsgWaitForMultipleObjects(1, &AFinished, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

TGathered<TInstallationFacts> GatherInstallationFacts(TConsoleServices& AServices, TFactsFor AFor) {
    return GatherKeepingError<TInstallationFacts>(
        [&](TInstallationFacts& AFacts) { GatherInstallation(AServices, AFor, AFacts); });
}

TGathered<TStateFacts> GatherStateFacts(TConsoleServices& AServices) {
    return GatherKeepingError<TStateFacts>(
        [&](TStateFacts& AFacts) { GatherState(AServices, AFacts); });
}

TGathered<TReportFacts> GatherStartUpFacts(TConsoleServices& AServices, TFactsFor AFor) {
    TGathered<TStateFacts> state;
    TGathered<TInstallationFacts> installation;
    {
        const TKernelHandle asked(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::jthread asking([&state, &AServices, &asked] {
            state = GatherStateFacts(AServices);
            if (asked)
                ::SetEvent(asked.get());
        });
        installation = GatherInstallationFacts(AServices, AFor);
        if (asked)
            WaitLettingSentMessagesThrough(asked.get());
    }
    TGathered<TReportFacts> report;
    report.Facts.Installation = std::move(installation.Facts);
    report.Error = installation.Error;
    if (!report.Error) {
        report.Facts.State = state.Facts;
        report.Error = state.Error;
    }
    return report;
}
