// The operations of the other subsystems that the console calls, behind one
// interface of the console's own: the product binds the real ones
// (TSystemConsoleServices), tests bind fakes. Each operation joins this
// interface together with the subsystem that provides it.
//
// Threads: every operation is called on the thread that owns the object (the
// window's, or the /report mode's main thread), one at a time, except the
// state test's questions (RunsElevated, Hook()'s Ask questions,
// AskFileScanServiceExists and AskFileScanServiceRunning): the start-up
// gathering asks those on a thread of its own while the installation
// report's operations (the Windows version, the files' facts and the trust
// checks) run on the owner's. An implementation makes those questions safe
// beside the report's operations; no two of them are asked at once, and
// nothing else is called off the owner's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "download/MemoryStream.h"
#include "fileinfo/FileDigest.h"
#include "fileinfo/TrustChecker.h"
#include "fileinfo/VersionReader.h"
#include "hook/HookControls.h"

class TConsoleServices {
public:
    virtual ~TConsoleServices() = default;

    // The injection driver and the hook library: HookInstance. The state
    // test asks it three questions, the Live Protection actions take one step
    // each on it.
    virtual THookControls& Hook() = 0;
    // The direct activation on Hook() (InstallHook of DirectActivation.h),
    // asking the file-scan service (WebServiceInject) before it injects
    // directly.
    virtual bool InstallHook(std::wstring& AErrorMessage) = 0;

    // The file-scan service (ProductServices): the state test's two
    // questions; installed and started, and its loopback commands (true when
    // it answered with status 200).
    virtual bool FileScanServiceExists() = 0;
    virtual bool FileScanServiceRunning() = 0;
    // The state test's two service questions, where one that cannot be
    // answered is unknown rather than a "no" (as Hook()'s Ask questions);
    // unless told more, each is its question's yes or no.
    virtual TAnswer AskFileScanServiceExists() { return TAnswer::Of(FileScanServiceExists()); }
    virtual TAnswer AskFileScanServiceRunning() { return TAnswer::Of(FileScanServiceRunning()); }
    // Whether the process runs with its full rights (its token elevated), so
    // that an answer refused for want of rights can say what would give it.
    virtual bool RunsElevated() = 0;
    virtual bool FileScanServiceInstall() = 0;
    virtual bool FileScanServiceStart() = 0;
    virtual bool WebServiceLPActivate() = 0;
    virtual bool WebServiceInject() = 0;
    virtual bool WebServiceUninject() = 0;

    // The installation report: the Windows version, and for each file its
    // presence, versions, digest and signature.
    virtual bool FileExists(const std::wstring& APath) = 0;
    virtual std::wstring WindowsVersionName(bool AWithNumbers) = 0;
    // The file version and product version, from one read of the file.
    virtual TVersionTexts ReadVersionTexts(const std::wstring& AFilename) = 0;
    // Why a file's content could not be read: the system's error code and
    // its text.
    struct TReadError {
        std::uint32_t Code = 0;
        std::wstring Message;
    };
    // True with the digest; false with the reason when the file cannot be read.
    virtual bool DigestFile(const std::wstring& AFilename, TFileDigest& ADigest,
                            TReadError& AError) = 0;
    virtual std::wstring DigestToText(const TFileDigest& ADigest) = 0;
    // Beside them, what only the report mode's JSON shows: the running
    // version's numbers, and a file's size (0 when it cannot be looked at)
    // and SHA-256 (64 lower-case digits; false with the reason when it cannot
    // be computed).
    struct TWindowsNumbers {
        std::uint32_t Major = 0;
        std::uint32_t Minor = 0;
        std::uint32_t Build = 0;
    };
    virtual TWindowsNumbers WindowsVersionNumbers() = 0;
    virtual std::uint64_t FileSize(const std::wstring& APath) = 0;
    virtual bool FileSha256(const std::wstring& AFilename, std::wstring& ADigest,
                            TReadError& AError) = 0;
    // The process-wide trust checker: which details its checks retrieve, a
    // check, and the signer's subject name as the last check left it.
    virtual void SetTrustRetrieveProperties(TCertificateFields AFields) = 0;
    virtual TTrustStatus CheckFileTrust(const std::wstring& AFilename) = 0;
    virtual std::wstring TrustSubjectName() = 0;
    virtual std::wstring TrustStatusToText(TTrustStatus AStatus) = 0;
    // The signer's issuer, serial number and validity as the last check left
    // them; only the report mode's JSON shows them.
    struct TSignerDetails {
        std::wstring Issuer;
        std::wstring SerialNumber;
        TDateTime ValidFrom;
        TDateTime ValidTo;
    };
    virtual TSignerDetails TrustSignerDetails() { return {}; }
    // The last check's raw result and the system's text for it; none when
    // nothing was checked. Only the report mode's JSON shows them.
    struct TTrustResult {
        std::int32_t Code = 0;
        std::wstring Message;
    };
    virtual std::optional<TTrustResult> TrustResult() { return std::nullopt; }

    // The alternative files' download: true when AStream holds the whole
    // file; false with the error code, which the log shows.
    virtual bool DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream,
                                  int32_t& AErrorCode) = 0;

    // Ends the running download, when there is one, from inside the listener:
    // DownloadToStream then fails, also when the last bytes had arrived.
    virtual void CancelDownload() {}

    // Hears of a running download on the thread that called DownloadToStream:
    // the address, the bytes so far and the announced length (0 without one).
    // It is called whenever messages arrive for that thread or a tenth of a
    // second has passed, and is expected to dispatch the thread's messages,
    // so that its windows keep painting while the transfer runs.
    using TDownloadProgress =
        std::function<void(const std::wstring& AURL, int64_t AReceived, int64_t ATotal)>;
    void SetOnDownloadProgress(TDownloadProgress AValue) {
        FOnDownloadProgress = std::move(AValue);
    }

protected:
    TDownloadProgress FOnDownloadProgress;
};

// The real operations of the subsystems.
class TSystemConsoleServices : public TConsoleServices {
public:
    THookControls& Hook() override;
    bool InstallHook(std::wstring& AErrorMessage) override;
    bool FileScanServiceExists() override;
    bool FileScanServiceRunning() override;
    TAnswer AskFileScanServiceExists() override;
    TAnswer AskFileScanServiceRunning() override;
    bool RunsElevated() override;
    bool FileScanServiceInstall() override;
    bool FileScanServiceStart() override;
    bool WebServiceLPActivate() override;
    bool WebServiceInject() override;
    bool WebServiceUninject() override;
    bool FileExists(const std::wstring& APath) override;
    std::wstring WindowsVersionName(bool AWithNumbers) override;
    TVersionTexts ReadVersionTexts(const std::wstring& AFilename) override;
    bool DigestFile(const std::wstring& AFilename, TFileDigest& ADigest,
                    TReadError& AError) override;
    std::wstring DigestToText(const TFileDigest& ADigest) override;
    TWindowsNumbers WindowsVersionNumbers() override;
    std::uint64_t FileSize(const std::wstring& APath) override;
    bool FileSha256(const std::wstring& AFilename, std::wstring& ADigest,
                    TReadError& AError) override;
    void SetTrustRetrieveProperties(TCertificateFields AFields) override;
    TTrustStatus CheckFileTrust(const std::wstring& AFilename) override;
    std::wstring TrustSubjectName() override;
    std::wstring TrustStatusToText(TTrustStatus AStatus) override;
    TSignerDetails TrustSignerDetails() override;
    std::optional<TTrustResult> TrustResult() override;
    bool DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream,
                          int32_t& AErrorCode) override;
    void CancelDownload() override { FDownloadCancelled = true; }

private:
    bool FDownloadCancelled = false;
};
