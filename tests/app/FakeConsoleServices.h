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
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ConsoleServices.h"
#include "app/FormDERodos.h"
#include "download/WinINet.h"
#include "platform/ProgramPath.h"
#include "tests/support/ScriptedHookControls.h"

// It stands for the hook controls too, so that one list holds the calls of
// both in their order.
class TFakeConsoleServices : public TConsoleServices, public TScriptedHookControls {
public:
    // The message InstallHook leaves when it answers false.
    std::wstring InstallHookMessage = L"Could not activate the Live Protection.";

    THookControls& Hook() override { return *this; }
    bool InstallHook(std::wstring& AErrorMessage) override {
        const bool active = Ask("InstallHook");
        if (!active)
            AErrorMessage = InstallHookMessage;
        return active;
    }
    bool FileScanServiceExists() override { return Ask("FileScanServiceExists"); }
    bool FileScanServiceRunning() override { return Ask("FileScanServiceRunning"); }
    TAnswer AskFileScanServiceExists() override {
        return AskAnswer("FileScanServiceExists", [this] { return FileScanServiceExists(); });
    }
    TAnswer AskFileScanServiceRunning() override {
        return AskAnswer("FileScanServiceRunning", [this] { return FileScanServiceRunning(); });
    }
    // Whether the questions run elevated, as the window always does.
    bool Elevated = true;
    bool RunsElevated() override { return Elevated; }
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
        // A digest that cannot be read fails with this code (ReadErrorMessage).
        std::optional<std::uint32_t> Sha1Error;
        std::optional<std::uint32_t> Sha256Error;
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
    TVersionTexts ReadVersionTexts(const std::wstring& APath) override {
        const TFile& file = Read("ReadVersionTexts", APath);
        return {file.FileVersion, file.ProductVersion};
    }
    // Marked, to show that the text comes from here.
    static std::wstring ReadErrorMessage(std::uint32_t ACode) {
        return L"<message " + std::to_wstring(ACode) + L">";
    }
    bool DigestFile(const std::wstring& APath, TFileDigest& ADigest, TReadError& AError) override {
        const TFile& file = Read("DigestFile", APath);
        return Answer(file.Sha1Error, AError, [&] { ADigest.fill(file.DigestByte); });
    }
    TWindowsNumbers WindowsVersionNumbers() override {
        Record("WindowsVersionNumbers");
        return WindowsNumbers;
    }
    std::uint64_t FileSize(const std::wstring& APath) override {
        return Read("FileSize", APath).Size;
    }
    bool FileSha256(const std::wstring& APath, std::wstring& ADigest, TReadError& AError) override {
        const TFile& file = Read("FileSha256", APath);
        return Answer(file.Sha256Error, AError, [&] { ADigest = file.Sha256; });
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

    // A read that fails with AError's code when there is one, else gives its result.
    template <class TGive>
    static bool Answer(const std::optional<std::uint32_t>& AErrorCode, TReadError& AError,
                       TGive AGive) {
        if (AErrorCode) {
            AError = {*AErrorCode, ReadErrorMessage(*AErrorCode)};
            return false;
        }
        AGive();
        return true;
    }

    // The file at APath, once AOperation on it is recorded.
    const TFile& Read(const std::string& AOperation, const std::wstring& APath) {
        Record(AOperation);
        return File(APath);
    }

private:
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
