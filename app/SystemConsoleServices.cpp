#include "ConsoleServices.h"

#include <windows.h>

#include "TrustCheckerInitialized.h"
#include "VersionReader.h"
#include "WindowsVersion.h"

bool TSystemConsoleServices::FileExists(const std::wstring& APath) {
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring TSystemConsoleServices::WindowsVersionName(bool AWithNumbers) {
    return ::WindowsVersionName(AWithNumbers);
}

std::wstring TSystemConsoleServices::ReadFileVersion(const std::wstring& AFilename) {
    return ::ReadFileVersion(AFilename);
}

std::wstring TSystemConsoleServices::ReadProductVersion(const std::wstring& AFilename) {
    return ::ReadProductVersion(AFilename);
}

TFileDigest TSystemConsoleServices::DigestFile(const std::wstring& AFilename) {
    TFileDigest digest;
    ::DigestFile(AFilename, digest);
    return digest;
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

std::wstring TSystemConsoleServices::TrustStatusToText(TTrustStatus AStatus) {
    return ::TrustStatusToText(AStatus);
}
