// The installation report's exact lines, against the fake of the console's seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/LiveProtectionFiles.h"
#include "platform/ProgramPath.h"
#include "tests/app/FakeConsoleServices.h"

namespace {

std::vector<std::wstring> Report(TFakeConsoleServices& AServices) {
    TLogForm form(AServices);
    form.ReportInstallation();
    return form.Lines;
}

// Every file there, the digest of file i all bytes 0x11 * i.
TFakeConsoleServices AllEightFiles() {
    TFakeConsoleServices services;
    for (size_t i = 0; i < LiveProtectionFiles.size(); ++i)
        services.Files[LiveProtectionFiles[i]].DigestByte = static_cast<std::uint8_t>(0x11 * i);
    return services;
}

std::wstring Hash(const wchar_t* APair) {
    std::wstring text;
    for (int i = 0; i < 20; ++i)
        text += APair;
    return text;
}

TEST(InstallationReport, AllEightFilesGiveTwentyFourLines) {
    TFakeConsoleServices services = AllEightFiles();
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
    const auto& calls = services.Calls;
    const auto retrieve = std::find(calls.begin(), calls.end(), "SetTrustRetrieveProperties 31");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetTrustRetrieveProperties 31"), 1);
    EXPECT_LT(retrieve, std::find(calls.begin(), calls.end(), "CheckFileTrust"));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CheckFileTrust"), 8);
}

// A name that fails still leaves the section line in the log.
TEST(InstallationReport, TheWindowsSectionLineStaysWhenTheNameFails) {
    TFakeConsoleServices services = AllEightFiles();
    TLogForm form(services);
    services.OnWindowsVersionName = [] { throw std::runtime_error("no name"); };
    EXPECT_THROW(form.ReportInstallation(), std::runtime_error);
    EXPECT_EQ(form.Lines, (std::vector<std::wstring>{L"", L"[ Windows ]"}));
}

TEST(InstallationReport, AMissingFileIsReportedOnceWithItsFullPath) {
    TFakeConsoleServices services = AllEightFiles();
    services.Files.erase(L"QVFSSvc.exe");
    services.Files.erase(L"QVHookHelper.exe");
    const std::vector<std::wstring> lines = Report(services);
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[6], L"[-] Missing file: " + ProgramFolder() + L"QVFSSvc.exe");
    EXPECT_EQ(lines[11], L"[-] Missing file: " + ProgramFolder() + L"QVHookHelper.exe");
    EXPECT_EQ(lines[15], L"[ Signature Test ]");
    EXPECT_EQ(lines[16].substr(0, 24), L"[+]         QVHook32.dll");
    EXPECT_EQ(lines[20].substr(0, 24), L"[+]     QVHookInst32.exe");
    EXPECT_EQ(std::count(services.Calls.begin(), services.Calls.end(), "CheckFileTrust"), 6);
}

TEST(InstallationReport, WithNoFilesTheSectionsAndMissingLinesRemain) {
    TFakeConsoleServices services;
    services.WindowsName = L"Unknown Windows version 11.0 [11.0.30000]";
    const std::vector<std::wstring> lines = Report(services);
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[2], L"[i] Windows Version: Unknown Windows version 11.0 [11.0.30000]");
    EXPECT_EQ(lines[13], L"[-] Missing file: " + ProgramFolder() + L"QVHookInst64.exe");
    EXPECT_EQ(lines[15], L"[ Signature Test ]");
}

TEST(InstallationReport, VersionTextsArePaddedToTenAndNeverCut) {
    TFakeConsoleServices services = AllEightFiles();
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
    TFakeConsoleServices services = AllEightFiles();
    TLogForm form(services);
    form.ReportInstallation();
    services.Files[L"QVHook64.dll"].FileVersion = L"2.7.4.1";
    form.ReportInstallation();
    ASSERT_EQ(form.Lines.size(), 48u);
    EXPECT_EQ(form.Lines[24], L"");
    EXPECT_EQ(form.Lines[25], L"[ Windows ]");
    EXPECT_EQ(form.Lines[32].substr(0, 43), L"[i]         QVHook64.dll - file    2.7.4.1 ");
}

} // namespace
