// The download button end to end: the tool built for a download server on the
// loopback address, in a copy of the demo folder, fetching the alternative
// builds over HTTPS from the loopback test server (its certificate from the
// test CA, trusted in the test prefix), then reporting the new digests.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Automation.h"
#include "DemoCopy.h"
#include "FileDigest.h"
#include "LiveProtectionFiles.h"
#include "LoopbackServer.h"
#include "TestCA.h"
#include "TestFiles.h"
#include "WinText.h"

namespace {

const std::string FilesPath = "/Vexlo2/special-purpose-test-versions/RodeVadudazovi/files-2.7/";

std::wstring Digest(const std::wstring& APath) {
    TFileDigest digest;
    DigestFile(APath, digest);
    return DigestToText(digest);
}

TEST(AlternativeFilesWindow, TheButtonReplacesTheFilesAndTheReportShowsTheNewDigests) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    TDemoCopy demo(L"alternativefiles-window");
    const std::wstring tool = demo.File(L"derodo_loopbackdownload.exe");
    ASSERT_TRUE(::CopyFileW((TestProgramFolder() + L"derodo_loopbackdownload.exe").c_str(),
                            tool.c_str(), FALSE));

    // The alternative builds: the installed programs with something appended.
    const std::wstring served = MakeTestFolder(L"alternativefiles-served");
    std::vector<std::string> originals(LiveProtectionFiles.size());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        originals[i] = ReadWholeFile(demo.File(LiveProtectionFiles[i]));
        ASSERT_FALSE(originals[i].empty());
        WriteWholeFile(served + LiveProtectionFiles[i], originals[i] + "alternative build 2.7\n");
    }
    TLoopbackServerOptions options;
    options.Root = served;
    options.FilesPath = FilesPath;
    options.CertFile = TestProgramFolder() + L"testca\\server.pem";
    options.KeyFile = TestProgramFolder() + L"testca\\server.key";
    options.Port = DERODO_LOOPBACK_DOWNLOAD_PORT;
    TLoopbackServer server(options);

    TAutomatedTool window(tool);
    ASSERT_NE(window.WaitForMainWindow(), nullptr);
    const std::vector<std::wstring> startUp = window.LogLines();
    EXPECT_FALSE(window.Press(L"Download alternative files #1").has_value());
    const std::vector<std::wstring> all = window.LogLines();
    ASSERT_GT(all.size(), startUp.size());
    const std::vector<std::wstring> lines(all.begin() + static_cast<long>(startUp.size()),
                                          all.end());

    std::vector<std::wstring> expected = {
        L"", L"[ File Download ]",
        L"[i] https://127.0.0.1:" + std::to_wstring(DERODO_LOOPBACK_DOWNLOAD_PORT) +
            L"/Vexlo2/special-purpose-test-versions/RodeVadudazovi/files-2.7/"};
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        expected.push_back(L"[+] Backup for " + std::wstring(LiveProtectionFiles[i]) +
                           L" created.");
    ASSERT_GE(lines.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + expected.size()), expected);
    // Then the report again, with the new digests; the file-scan service's
    // program is as it was.
    EXPECT_EQ(lines[expected.size() + 1], L"[ Windows ]");
    const auto versions = [](const std::vector<std::wstring>& ALines) {
        const auto start = std::find(ALines.begin(), ALines.end(), L"[ Versions ]");
        return std::vector<std::wstring>(start + 1, start + 1 + 8);
    };
    const std::vector<std::wstring> before = versions(startUp), after = versions(lines);
    EXPECT_EQ(after[0], before[0]);
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring digest = Digest(served + LiveProtectionFiles[i]);
        EXPECT_EQ(after[i].substr(after[i].size() - digest.size()), digest) << WideToUtf8(after[i]);
        EXPECT_NE(before[i], after[i]);
        EXPECT_EQ(ReadWholeFile(demo.File(LiveProtectionFiles[i])),
                  originals[i] + "alternative build 2.7\n");
        EXPECT_EQ(ReadWholeFile(demo.File(std::wstring(L"LPBackup\\") + LiveProtectionFiles[i])),
                  originals[i]);
    }
    EXPECT_EQ(window.Close(), 0u);
}

} // namespace
