// The console's operations bound to the product hook, the file-scan service
// and its loopback commands, the file identity operations and the download client.
#include "app/ConsoleServices.h"

#include <windows.h>

#include "download/WinINet.h"
#include "fileinfo/FileSha256.h"
#include "fileinfo/TrustCheckerInitialized.h"
#include "fileinfo/VersionReader.h"
#include "fileinfo/WindowsVersion.h"
#include "hook/DirectActivation.h"
#include "hook/VexloHook.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/SystemMessage.h"
#include "services/ProductServices.h"
#include "webclient/FileScanWebClient.h"

// HookInstance raises std::logic_error outside the program's run.
THookControls& TSystemConsoleServices::Hook() {
    return HookInstance();
}

bool TSystemConsoleServices::InstallHook(std::wstring& AErrorMessage) {
    return ::InstallHook(
        Hook(), [this] { return WebServiceInject(); }, AErrorMessage);
}

bool TSystemConsoleServices::FileScanServiceExists() {
    return ::FileScanServiceExists();
}

bool TSystemConsoleServices::FileScanServiceRunning() {
    return ::FileScanServiceRunning();
}

TAnswer TSystemConsoleServices::AskFileScanServiceExists() {
    return ::AskFileScanServiceExists();
}

TAnswer TSystemConsoleServices::AskFileScanServiceRunning() {
    return ::AskFileScanServiceRunning();
}

// A token that cannot be asked counts as not elevated: this only chooses the
// words for an answer that was refused.
bool TSystemConsoleServices::RunsElevated() {
    TKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.addressof()))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation),
                                 &size) &&
           elevation.TokenIsElevated != 0;
}

bool TSystemConsoleServices::FileScanServiceInstall() {
    return ::FileScanServiceInstall();
}

bool TSystemConsoleServices::FileScanServiceStart() {
    return ::FileScanServiceStart();
}

bool TSystemConsoleServices::WebServiceLPActivate() {
    return ::WebServiceLPActivate();
}

bool TSystemConsoleServices::WebServiceInject() {
    return ::WebServiceInject();
}

bool TSystemConsoleServices::WebServiceUninject() {
    return ::WebServiceUninject();
}

bool TSystemConsoleServices::FileExists(const std::wstring& APath) {
    return ::FileExists(APath);
}

std::wstring TSystemConsoleServices::WindowsVersionName(bool AWithNumbers) {
    return ::WindowsVersionName(AWithNumbers);
}

TVersionTexts TSystemConsoleServices::ReadVersionTexts(const std::wstring& AFilename) {
    return ::ReadVersionTexts(AFilename);
}

namespace {

TConsoleServices::TReadError ReadError(DWORD ACode) {
    return {ACode, SystemMessage(ACode)};
}

} // namespace

bool TSystemConsoleServices::DigestFile(const std::wstring& AFilename, TFileDigest& ADigest,
                                        TReadError& AError) {
    DWORD error = ERROR_SUCCESS;
    if (::DigestFile(AFilename, ADigest, error))
        return true;
    AError = ReadError(error);
    return false;
}

std::wstring TSystemConsoleServices::DigestToText(const TFileDigest& ADigest) {
    return ::DigestToText(ADigest);
}

// Detected once at start-up by the module of the Windows version.
TConsoleServices::TWindowsNumbers TSystemConsoleServices::WindowsVersionNumbers() {
    return {WindowsVersionInfo.dwMajorVersion, WindowsVersionInfo.dwMinorVersion,
            WindowsVersionInfo.dwBuildNumber};
}

std::uint64_t TSystemConsoleServices::FileSize(const std::wstring& APath) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(APath.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool TSystemConsoleServices::FileSha256(const std::wstring& AFilename, std::wstring& ADigest,
                                        TReadError& AError) {
    DWORD error = ERROR_SUCCESS;
    if (::FileSha256(AFilename, ADigest, error))
        return true;
    AError = ReadError(error);
    return false;
}

// The trust checker exists from its module's start-up to its shut-down; outside
// that time it is unavailable, as a checker without its library is.
void TSystemConsoleServices::SetTrustRetrieveProperties(TCertificateFields AFields) {
    if (TInitializedTrustChecker* checker = TrustChecker())
        checker->SetRetrieveProperties(AFields);
}

TTrustStatus TSystemConsoleServices::CheckFileTrust(const std::wstring& AFilename) {
    TInitializedTrustChecker* checker = TrustChecker();
    return checker ? checker->CheckFileTrust(AFilename) : tsUnavailable;
}

std::wstring TSystemConsoleServices::TrustSubjectName() {
    TInitializedTrustChecker* checker = TrustChecker();
    return checker ? checker->SubjectName() : std::wstring();
}

TConsoleServices::TSignerDetails TSystemConsoleServices::TrustSignerDetails() {
    TInitializedTrustChecker* checker = TrustChecker();
    if (!checker)
        return {};
    return {checker->IssuerName(), checker->SerialNumber(), checker->ValidFrom(),
            checker->ValidTo()};
}

std::optional<TConsoleServices::TTrustResult> TSystemConsoleServices::TrustResult() {
    TInitializedTrustChecker* checker = TrustChecker();
    if (!checker || !checker->Result())
        return std::nullopt;
    const LONG code = *checker->Result();
    return TTrustResult{code, TrustResultMessage(code)};
}

std::wstring TSystemConsoleServices::TrustStatusToText(TTrustStatus AStatus) {
    return ::TrustStatusToText(AStatus);
}

bool TSystemConsoleServices::DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream,
                                              int32_t& AErrorCode) {
    // The transfer runs on a thread of its own; the listener, the log and
    // everything else stay on this thread, which waits for it while letting
    // its messages through.
    FDownloadCancelled = false;
    TDownloadWait wait;
    if (FOnDownloadProgress)
        wait.OnWaiting = [&](int64_t AReceived, int64_t ATotal) {
            FOnDownloadProgress(AURL, AReceived, ATotal);
        };
    wait.Cancel = &FDownloadCancelled;
    return ::DownloadToStream(AURL, AStream, AErrorCode, wait);
}
