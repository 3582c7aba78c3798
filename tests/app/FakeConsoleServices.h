// A scripted fake of the console's seam: each operation answers from a script
// and is recorded in order, so console tests read like the behaviour they pin.
// The start-up report asks the state test's questions on a thread of their
// own: the record and the script are shared under a lock.
#pragma once

#include <cwctype>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ConsoleServices.h"
#include "FormDERodos.h"
#include "ProgramPath.h"
#include "WinINet.h"

// It stands for the hook controls too, so that one list holds the calls of
// both in their order.
class TFakeConsoleServices : public TConsoleServices, public THookControls {
public:
    // Operations answered in order, each operation by its name.
    std::vector<std::string> Calls;
    // Answers used first, one per call; then the standing answer (false when
    // none is given).
    std::map<std::string, std::deque<bool>> Next;
    std::map<std::string, bool> Standing;
    // Operations that raise an error instead of answering (the installation
    // report's too).
    std::set<std::string> Raising;
    // The thread's last error a false answer leaves, by operation (0 unless given).
    std::map<std::string, DWORD> Errors;
    // The message InstallHook leaves when it answers false.
    std::wstring InstallHookMessage = L"Could not activate the Live Protection.";

    THookControls& Hook() override { return *this; }
    bool IsInjectionDriverInstalled() override { return Ask("IsInjectionDriverInstalled"); }
    bool IsInjectionDriverRunning() override { return Ask("IsInjectionDriverRunning"); }
    bool IsLibraryInjected() override { return Ask("IsLibraryInjected"); }
    bool InstallInjectionDriver() override { return Ask("InstallInjectionDriver"); }
    bool LoadInjectionDriver() override { return Ask("LoadInjectionDriver"); }
    bool StartInjectionDriver() override { return Ask("StartInjectionDriver"); }
    bool StopInjectionDriver() override { return Ask("StopInjectionDriver"); }
    bool UninstallInjectionDriver() override { return Ask("UninstallInjectionDriver"); }
    bool InjectLibrary32() override { return Ask("InjectLibrary32"); }
    bool UnInjectLibrary32() override { return Ask("UnInjectLibrary32"); }
    bool UnInjectAllLibraries32() override { return Ask("UnInjectAllLibraries32"); }
    bool InstallHook(std::wstring& AErrorMessage) override {
        const bool active = Ask("InstallHook");
        if (!active)
            AErrorMessage = InstallHookMessage;
        return active;
    }
    bool FileScanServiceExists() override { return Ask("FileScanServiceExists"); }
    bool FileScanServiceRunning() override { return Ask("FileScanServiceRunning"); }
    bool FileScanServiceInstall() override { return Ask("FileScanServiceInstall"); }
    bool FileScanServiceStart() override { return Ask("FileScanServiceStart"); }
    bool WebServiceLPActivate() override { return Ask("WebServiceLPActivate"); }
    bool WebServiceInject() override { return Ask("WebServiceInject"); }
    bool WebServiceUninject() override { return Ask("WebServiceUninject"); }

    // The installation report's files, by bare name: a name not listed is
    // missing. The trust check leaves the file's subject as the subject name.
    struct TFile {
        std::wstring FileVersion = L"2.7.3.118";
        std::wstring ProductVersion = L"2.7.0.0";
        std::uint8_t DigestByte = 0; // every byte of the digest
        std::uint64_t Size = 78622;
        std::wstring Sha256 = std::wstring(64, L'5');
        TTrustStatus Status = tsSuccess;
        std::wstring Subject = L"Quorvane Tessit Limited";
    };
    std::map<std::wstring, TFile> Files;
    std::wstring WindowsName = L"Windows 10, Version 22H2 [10.0.19045]";
    TWindowsNumbers WindowsNumbers = {10, 0, 19045};
    // Run when the Windows name is asked, before it is answered.
    std::function<void()> OnWindowsVersionName;

    bool FileExists(const std::wstring& APath) override {
        Record("FileExists");
        return Files.count(ExtractFileName(APath)) > 0;
    }
    std::wstring WindowsVersionName(bool AWithNumbers) override {
        Record("WindowsVersionName");
        if (OnWindowsVersionName)
            OnWindowsVersionName();
        return AWithNumbers ? WindowsName : L"(without numbers)";
    }
    std::wstring ReadFileVersion(const std::wstring& APath) override {
        return Read("ReadFileVersion", APath).FileVersion;
    }
    std::wstring ReadProductVersion(const std::wstring& APath) override {
        return Read("ReadProductVersion", APath).ProductVersion;
    }
    TFileDigest DigestFile(const std::wstring& APath) override {
        TFileDigest digest;
        digest.fill(Read("DigestFile", APath).DigestByte);
        return digest;
    }
    TWindowsNumbers WindowsVersionNumbers() override {
        Record("WindowsVersionNumbers");
        return WindowsNumbers;
    }
    std::uint64_t FileSize(const std::wstring& APath) override {
        return Read("FileSize", APath).Size;
    }
    std::wstring FileSha256(const std::wstring& APath) override {
        return Read("FileSha256", APath).Sha256;
    }
    // In upper case: the report writes it in lower case whatever it gets.
    std::wstring DigestToText(const TFileDigest& ADigest) override {
        std::wstring text = ::DigestToText(ADigest);
        for (wchar_t& c : text)
            c = static_cast<wchar_t>(std::towupper(c));
        return text;
    }
    void SetTrustRetrieveProperties(TCertificateFields AFields) override {
        Record("SetTrustRetrieveProperties", " " + std::to_string(AFields.Bits));
    }
    TTrustStatus CheckFileTrust(const std::wstring& APath) override {
        Record("CheckFileTrust");
        FSubject = File(APath).Subject;
        return File(APath).Status;
    }
    std::wstring TrustSubjectName() override { return FSubject; }
    // Marked, to show that the words come from here.
    std::wstring TrustStatusToText(TTrustStatus AStatus) override {
        return std::wstring(L"<") + TrustStatusWords(AStatus) + L">";
    }

    static constexpr int32_t FileNotOnServer = DownloadFileNotOnServerCode;
    // Downloads by URL: the bytes put into the stream and the answer. A URL
    // not listed fails as a file the server does not have.
    struct TDownload {
        std::string Body;
        bool Ok = true;
        int32_t ErrorCode = 0;
    };
    std::map<std::wstring, TDownload> Downloads;
    // The URLs asked for, in order.
    std::vector<std::wstring> DownloadedURLs;

    bool DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream,
                          int32_t& AErrorCode) override {
        DownloadedURLs.push_back(AURL);
        Ask("DownloadToStream");
        const auto download = Downloads.find(AURL);
        if (download == Downloads.end()) {
            AErrorCode = FileNotOnServer;
            return false;
        }
        AStream.WriteBuffer(download->second.Body.data(), download->second.Body.size());
        AErrorCode = download->second.ErrorCode;
        return download->second.Ok;
    }

protected:
    const TFile& File(const std::wstring& APath) const {
        const auto file = Files.find(ExtractFileName(APath));
        if (file == Files.end())
            throw std::runtime_error("no such file");
        return file->second;
    }

    // The file at APath, once AOperation on it is recorded.
    const TFile& Read(const std::string& AOperation, const std::wstring& APath) {
        Record(AOperation);
        return File(APath);
    }

    // Records the operation (with ADetail) and raises when it is to raise.
    void Record(const std::string& AOperation, const std::string& ADetail = {}) {
        const std::lock_guard<std::mutex> lock(*FLock);
        Calls.push_back(AOperation + ADetail);
        if (Raising.count(AOperation))
            throw std::runtime_error(AOperation + " failed on purpose");
    }

    bool Ask(const std::string& AOperation) {
        Record(AOperation);
        const std::lock_guard<std::mutex> lock(*FLock);
        bool answer = false;
        std::deque<bool>& next = Next[AOperation];
        if (!next.empty()) {
            answer = next.front();
            next.pop_front();
        } else {
            const auto standing = Standing.find(AOperation);
            answer = standing != Standing.end() && standing->second;
        }
        if (!answer)
            ::SetLastError(Errors.count(AOperation) ? Errors[AOperation] : ERROR_SUCCESS);
        return answer;
    }

private:
    // Shared by copies, so that a fake stays copyable.
    std::shared_ptr<std::mutex> FLock = std::make_shared<std::mutex>();
    std::wstring FSubject;
};

// The real form's writers, its lines kept instead of shown.
class TLogForm : public TFormDERodos {
public:
    using TFormDERodos::TFormDERodos;
    std::vector<std::wstring> Lines;

protected:
    void AppendLines(const std::vector<std::wstring>& ALines) override {
        Lines.insert(Lines.end(), ALines.begin(), ALines.end());
    }
};
