// The installation report's exact lines, against a fake of the console's seam.
#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "FormDERodos.h"
#include "LiveProtectionFiles.h"
#include "ProgramPath.h"

namespace {

struct TFakeFile {
    std::wstring FileVersion = L"2.7.3.118";
    std::wstring ProductVersion = L"2.7.0.0";
    std::uint8_t DigestByte = 0;
    TTrustStatus Status = tsSuccess;
    std::wstring Subject = L"Quorvane Tessit Limited";
};

class TFakeServices : public TConsoleServices {
public:
    std::map<std::wstring, TFakeFile> Files; // by bare name
    std::wstring Windows = L"Windows 10, Version 22H2 [10.0.19045]";
    std::vector<std::wstring> Trace;

    bool FileExists(const std::wstring& APath) override {
        return Files.count(ExtractFileName(APath)) > 0;
    }
    std::wstring WindowsVersionName(bool AWithNumbers) override {
        return AWithNumbers ? Windows : L"(without numbers)";
    }
    std::wstring ReadFileVersion(const std::wstring& APath) override {
        return Files.at(ExtractFileName(APath)).FileVersion;
    }
    std::wstring ReadProductVersion(const std::wstring& APath) override {
        return Files.at(ExtractFileName(APath)).ProductVersion;
    }
    TFileDigest DigestFile(const std::wstring& APath) override {
        TFileDigest digest;
        digest.fill(Files.at(ExtractFileName(APath)).DigestByte);
        return digest;
    }
    // Upper case, which the report turns to lower case.
    std::wstring DigestToText(const TFileDigest& ADigest) override {
        std::wstring text = ::DigestToText(ADigest);
        for (wchar_t& c : text)
            c = static_cast<wchar_t>(std::towupper(c));
        return text;
    }
    void SetTrustRetrieveProperties(TCertificateFields AFields) override {
        Trace.push_back(L"retrieve " + std::to_wstring(AFields.Bits));
    }
    TTrustStatus CheckFileTrust(const std::wstring& APath) override {
        const TFakeFile& file = Files.at(ExtractFileName(APath));
        Trace.push_back(L"check " + APath);
        FSubject = file.Subject;
        return file.Status;
    }
    std::wstring TrustSubjectName() override { return FSubject; }
    std::wstring TrustStatusToText(TTrustStatus AStatus) override {
        return std::wstring(L"<") + TrustStatusWords(AStatus) + L">";
    }

private:
    std::wstring FSubject;
};

// The window's log as lines, without a window.
class TReportForm : public TFormDERodos {
public:
    using TFormDERodos::TFormDERodos;
    std::vector<std::wstring> Lines;

protected:
    void AppendLine(const std::wstring& ALine) override { Lines.push_back(ALine); }
};

std::vector<std::wstring> Report(TFakeServices& AServices) {
    TReportForm form(AServices);
    form.ReportInstallation();
    return form.Lines;
}

TFakeServices AllEightFiles() {
    TFakeServices services;
    for (size_t i = 0; i < LiveProtectionFiles.size(); ++i) {
        TFakeFile file;
        file.DigestByte = static_cast<std::uint8_t>(0x11 * i);
        services.Files[LiveProtectionFiles[i]] = file;
    }
    return services;
}

std::wstring Hash(const wchar_t* APair) {
    std::wstring text;
    for (int i = 0; i < 20; ++i)
        text += APair;
    return text;
}

TEST(InstallationReport, AllEightFilesGiveTwentyFourLines) {
    TFakeServices services = AllEightFiles();
    services.Files[L"QVHookInst32.exe"].Status = tsNoSignature;
    services.Files[L"QVHookInst32.exe"].Subject = L"";
    services.Files[L"QVHookDrv32.sys"].Status = tsUnknown;

    const std::vector<std::wstring> expected = {
        L"",
        L"[ Windows ]",
        L"[i] Windows Version: Windows 10, Version 22H2 [10.0.19045]",
        L"[i] " + ProgramFolder(),
        L"",
        L"[ Versions ]",
        L"[i]          QVFSSvc.exe - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"00"),
        L"[i]         QVHook32.dll - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"11"),
        L"[i]         QVHook64.dll - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"22"),
        L"[i]      QVHookDrv32.sys - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"33"),
        L"[i]      QVHookDrv64.sys - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"44"),
        L"[i]     QVHookHelper.exe - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"55"),
        L"[i]     QVHookInst32.exe - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"66"),
        L"[i]     QVHookInst64.exe - file  2.7.3.118 product    2.7.0.0 hash " + Hash(L"77"),
        L"",
        L"[ Signature Test ]",
        L"[+]          QVFSSvc.exe - <success> - subject Quorvane Tessit Limited",
        L"[+]         QVHook32.dll - <success> - subject Quorvane Tessit Limited",
        L"[+]         QVHook64.dll - <success> - subject Quorvane Tessit Limited",
        L"[-]      QVHookDrv32.sys - <unknown> - subject Quorvane Tessit Limited",
        L"[+]      QVHookDrv64.sys - <success> - subject Quorvane Tessit Limited",
        L"[+]     QVHookHelper.exe - <success> - subject Quorvane Tessit Limited",
        L"[-]     QVHookInst32.exe - <no signature> - subject ",
        L"[+]     QVHookInst64.exe - <success> - subject Quorvane Tessit Limited",
    };
    EXPECT_EQ(Report(services), expected);

    // All five details are asked for once, before the first check.
    ASSERT_EQ(services.Trace.size(), 9u);
    EXPECT_EQ(services.Trace[0], L"retrieve 31");
    EXPECT_EQ(services.Trace[1], L"check " + LiveProtectionFilePath(0));
}

TEST(InstallationReport, AMissingFileIsReportedOnceWithItsFullPath) {
    TFakeServices services = AllEightFiles();
    services.Files.erase(L"QVFSSvc.exe");
    services.Files.erase(L"QVHookHelper.exe");
    const std::vector<std::wstring> lines = Report(services);
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[6], L"[-] Missing file: " + ProgramFolder() + L"QVFSSvc.exe");
    EXPECT_EQ(lines[11], L"[-] Missing file: " + ProgramFolder() + L"QVHookHelper.exe");
    EXPECT_EQ(lines[15], L"[ Signature Test ]");
    EXPECT_EQ(lines[16].substr(0, 24), L"[+]         QVHook32.dll");
    EXPECT_EQ(lines[20].substr(0, 24), L"[+]     QVHookInst32.exe");
}

TEST(InstallationReport, NoFilesAtAllLeaveTheSectionsAndTheMissingLines) {
    TFakeServices services;
    services.Windows = L"Unknown Windows version 11.0 [11.0.30000]";
    const std::vector<std::wstring> lines = Report(services);
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[2], L"[i] Windows Version: Unknown Windows version 11.0 [11.0.30000]");
    EXPECT_EQ(lines[13], L"[-] Missing file: " + ProgramFolder() + L"QVHookInst64.exe");
    EXPECT_EQ(lines[15], L"[ Signature Test ]");
    EXPECT_EQ(services.Trace, std::vector<std::wstring>{L"retrieve 31"});
}

TEST(InstallationReport, VersionTextsArePaddedToTenAndNeverCut) {
    TFakeServices services = AllEightFiles();
    services.Files[L"QVHook32.dll"].FileVersion = L"";
    services.Files[L"QVHook32.dll"].ProductVersion = L"";
    services.Files[L"QVHook64.dll"].FileVersion = L"2.7.3.118-preview.4";
    services.Files[L"QVHook64.dll"].ProductVersion = L"0123456789";
    const std::vector<std::wstring> lines = Report(services);
    EXPECT_EQ(lines[7],
              L"[i]         QVHook32.dll - file            product            hash " + Hash(L"11"));
    EXPECT_EQ(lines[8],
              L"[i]         QVHook64.dll - file 2.7.3.118-preview.4 product 0123456789 hash " +
                  Hash(L"22"));
}

TEST(InstallationReport, RunTwiceAppendsTheReportTwice) {
    TFakeServices services = AllEightFiles();
    TReportForm form(services);
    form.ReportInstallation();
    services.Files[L"QVHook64.dll"].FileVersion = L"2.7.4.1";
    form.ReportInstallation();
    ASSERT_EQ(form.Lines.size(), 48u);
    EXPECT_EQ(form.Lines[24], L"");
    EXPECT_EQ(form.Lines[25], L"[ Windows ]");
    EXPECT_NE(form.Lines[8], form.Lines[32]);
    EXPECT_NE(form.Lines[32].find(L"file    2.7.4.1 product"), std::wstring::npos);
}

} // namespace
