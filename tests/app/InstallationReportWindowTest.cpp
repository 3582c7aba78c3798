// The real tool in a folder with all eight Live Protection files: its start-up
// report in the window's log, end to end.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fileinfo/FileDigest.h"
#include "fileinfo/VersionReader.h"
#include "fileinfo/WindowsVersion.h"
#include "fixtures/fileidentity/TestCA.h"
#include "tests/automation/Automation.h"
#include "tests/support/TestFiles.h"

namespace {

struct TInstalledFile {
    const wchar_t* Name;
    const wchar_t* Source; // below the bin folder
    bool Signed;
};

// Our own programs stand in for the files of other fixtures.
const std::vector<TInstalledFile> InstalledFiles = {
    {L"QVFSSvc.exe", L"trust\\unsigned.exe", false},
    {L"QVHook32.dll", L"trust\\signed.exe", true},
    {L"QVHook64.dll", L"trust\\signed.exe", true},
    {L"QVHookDrv32.sys", L"trust\\unsigned.exe", false},
    {L"QVHookDrv64.sys", L"trust\\signed.exe", true},
    {L"QVHookHelper.exe", L"QVHookHelper.exe", true},
    {L"QVHookInst32.exe", L"QVHookInst32.exe", false},
    {L"QVHookInst64.exe", L"QVHookInst64.exe", true},
};

std::wstring RightAligned(const std::wstring& AText, size_t AWidth) {
    return std::wstring(AWidth > AText.size() ? AWidth - AText.size() : 0, L' ') + AText;
}

TEST(InstallationReportWindow, TheToolReportsAllEightFilesOfItsFolder) {
    ASSERT_TRUE(TrustTestCA(FixturePath(L"testca\\ca.cer")));
    TScratchFolder folder;
    folder.Copy(FixturePath(L"derodo.exe"), L"derodo.exe");
    std::vector<std::wstring> versions, signatures;
    for (const TInstalledFile& file : InstalledFiles) {
        const std::wstring path = folder.Copy(FixturePath(file.Source), file.Name);
        TFileDigest digest;
        DWORD error = ERROR_SUCCESS;
        EXPECT_TRUE(DigestFile(path, digest, error)) << error;
        versions.push_back(L"[i] " + RightAligned(file.Name, 20) + L" - file " +
                           RightAligned(ReadFileVersion(path), 10) + L" product " +
                           RightAligned(ReadProductVersion(path), 10) + L" hash " +
                           DigestToText(digest));
        signatures.push_back(file.Signed ? L"[+] " + RightAligned(file.Name, 20) +
                                               L" - success - subject Derodo Test Code Signing"
                                         : L"[-] " + RightAligned(file.Name, 20) +
                                               L" - no signature - subject ");
    }
    DetectWindowsVersion();

    std::vector<std::wstring> expected = {L"",
                                          L"[ Windows ]",
                                          L"[i] Windows Version: " + WindowsVersionName(true),
                                          L"[i] " + folder.Path(),
                                          L"",
                                          L"[ Versions ]"};
    expected.insert(expected.end(), versions.begin(), versions.end());
    expected.insert(expected.end(), {L"", L"[ Signature Test ]"});
    expected.insert(expected.end(), signatures.begin(), signatures.end());

    TAutomatedTool tool(folder.Path() + L"derodo.exe");
    ASSERT_NE(tool.WaitForMainWindow(), nullptr);
    std::vector<std::wstring> lines = tool.LogLines();
    ASSERT_GE(lines.size(), expected.size());
    lines.resize(expected.size());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(versions[6], L"[i]     QVHookInst32.exe - file  2.7.3.118 product    2.7.0.0 hash " +
                               versions[6].substr(versions[6].size() - 40));
    EXPECT_EQ(tool.Close(), 0u);
}

} // namespace
