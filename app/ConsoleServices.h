// The operations of the other subsystems that the console calls, behind one
// interface of the console's own: the product binds the real ones
// (TSystemConsoleServices), tests bind fakes. Each operation joins this
// interface together with the subsystem that provides it.
#pragma once

#include <string>

#include "FileDigest.h"
#include "TrustChecker.h"

class TConsoleServices {
public:
    virtual ~TConsoleServices() = default;

    // File identity and system information, for the installation report. The
    // defaults answer as for a file that is not there, so that a fake
    // overrides only what its test looks at.
    virtual bool FileExists(const std::wstring&) { return false; }
    virtual std::wstring WindowsVersionName(bool) { return {}; }
    virtual std::wstring ReadFileVersion(const std::wstring&) { return {}; }
    virtual std::wstring ReadProductVersion(const std::wstring&) { return {}; }
    virtual TFileDigest DigestFile(const std::wstring&) { return {}; }
    virtual std::wstring DigestToText(const TFileDigest& ADigest) {
        return ::DigestToText(ADigest);
    }
    // The process-wide trust checker: which details its checks retrieve, a
    // check, and the signer's subject name as the last check left it.
    virtual void SetTrustRetrieveProperties(TCertificateFields) {}
    virtual TTrustStatus CheckFileTrust(const std::wstring&) { return tsUnavailable; }
    virtual std::wstring TrustSubjectName() { return {}; }
    virtual std::wstring TrustStatusToText(TTrustStatus AStatus) {
        return TrustStatusWords(AStatus);
    }
};

// The real operations of the subsystems.
class TSystemConsoleServices : public TConsoleServices {
public:
    bool FileExists(const std::wstring& APath) override;
    std::wstring WindowsVersionName(bool AWithNumbers) override;
    std::wstring ReadFileVersion(const std::wstring& AFilename) override;
    std::wstring ReadProductVersion(const std::wstring& AFilename) override;
    TFileDigest DigestFile(const std::wstring& AFilename) override;
    void SetTrustRetrieveProperties(TCertificateFields AFields) override;
    TTrustStatus CheckFileTrust(const std::wstring& AFilename) override;
    std::wstring TrustSubjectName() override;
    std::wstring TrustStatusToText(TTrustStatus AStatus) override;
};
