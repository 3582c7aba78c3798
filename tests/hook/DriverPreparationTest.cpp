// The driver preparation with our stand-ins for the signing tool and the
// configuration tool, our fixture drivers as templates and real signed and
// unsigned files as hook libraries, in folders of the test's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "fileinfo/TrustChecker.h"
#include "fileinfo/TrustLibrary.h"
#include "fixtures/fileidentity/TestCA.h"
#include "hook/MadCodeHookImplementation.h"
#include "platform/Handles.h"
#include "platform/WinText.h"
#include "tests/support/TestFiles.h"

namespace {

const std::wstring SignOptions =
    L"sign /v /ph /ac G:\\Tools\\MSSDK\\MSCV-VSClass3.cer /n \"Quorvane Tessit Ltd.\" /d ";
const std::wstring SignAddresses =
    L" /du http://www.vexlo.example/ /t http://timestamp.globalsign.com/scripts/timstamp.dll ";

// The settings' fields the product never changes, set as a developer would.
class TPreparedHook : public TMadCodeHookImplementation {
public:
    void SetDriverPath(const std::wstring& AValue) { FDriverPath = AValue; }
    void SetSignToolFilename(const std::wstring& AValue) { FSignToolFilename = AValue; }
};

// A developer's machine in a scratch folder: the hooking library's driver
// folder with the configuration tool and the templates, the signing tool in
// an SDK folder, and the product's files in a folder whose name has a space.
class TPreparation {
public:
    TScratchFolder Folder;
    std::wstring Tools = Folder.Path() + L"madCodeHook\\Driver\\";
    std::wstring SignTool = Folder.Path() + L"SDK\\signtool.exe";
    std::wstring Product = Folder.Path() + L"Vexlo Live Protection\\";
    TPreparedHook Hook;

    explicit TPreparation(const wchar_t* ALibrarySample = L"unsigned.exe") {
        for (const wchar_t* folder :
             {L"madCodeHook\\", L"madCodeHook\\Driver\\", L"SDK\\", L"Vexlo Live Protection\\"})
            ::CreateDirectoryW((Folder.Path() + folder).c_str(), nullptr);
        Folder.Copy(FixturePath(L"drivertools\\signtool.exe"), L"SDK\\signtool.exe");
        for (const wchar_t* file : {ConfigurationToolName, Template32Name, Template64Name})
            Folder.Copy(FixturePath(std::wstring(L"drivertools\\") + file),
                        std::wstring(L"madCodeHook\\Driver\\") + file);
        for (const wchar_t* library : {L"QVHook32.dll", L"QVHook64.dll"})
            Folder.Copy(FixturePath(std::wstring(L"trust\\") + ALibrarySample),
                        std::wstring(L"Vexlo Live Protection\\") + library);
        Hook.SetDriverPath(Tools);
        Hook.SetSignToolFilename(SignTool);
        Hook.SetDriverName(L"QVHookDriver");
        Hook.SetDriverFilename32(Product + L"QVHookDrv32.sys");
        Hook.SetDriverFilename64(Product + L"QVHookDrv64.sys");
        Hook.SetLibraryFilename32(Product + L"QVHook32.dll");
        Hook.SetLibraryFilename64(Product + L"QVHook64.dll");
    }

    // The command lines a tool was called with, by its name without extension.
    std::vector<std::wstring> Calls(const std::wstring& AFolder, const wchar_t* ATool) const {
        std::vector<std::wstring> lines;
        const std::string text = ReadWholeFile(AFolder + ATool + L".calls");
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            lines.push_back(Utf8ToWide(text.substr(start, end - start)));
        }
        return lines;
    }
    std::vector<std::wstring> SignToolCalls() const {
        return Calls(Folder.Path() + L"SDK\\", L"signtool");
    }
    std::vector<std::wstring> ConfigurationToolCalls() const {
        return Calls(Tools, L"madConfigDrv");
    }
};

// What a fixture tool writes on its call ACall: its output line, its error line.
std::vector<std::wstring> ToolLines(const std::wstring& ATool, int ACall) {
    return {ATool + L": output of call " + std::to_wstring(ACall),
            ATool + L": errors of call " + std::to_wstring(ACall)};
}

std::vector<std::wstring> Joined(std::initializer_list<std::vector<std::wstring>> AParts) {
    std::vector<std::wstring> lines;
    for (const auto& part : AParts)
        lines.insert(lines.end(), part.begin(), part.end());
    return lines;
}

class DriverPreparation : public testing::Test {
protected:
    static void SetUpTestSuite() {
        TrustLibraryStartUp();
        ASSERT_TRUE(TrustTestCA(FixturePath(L"testca\\ca.cer")));
    }
    static void TearDownTestSuite() { TrustLibraryShutDown(); }
};

TEST_F(DriverPreparation, TheSignToolsParametersNameCertificateSignerDescriptionAndFile) {
    TPreparedHook hook;
    EXPECT_EQ(hook.GetSignToolCommandLine(L"C:\\Program Files\\Vexlo\\QVHook32.dll",
                                          L"Vexlo On Access 32 bit driver"),
              SignOptions + L"\"Vexlo On Access 32 bit driver\"" + SignAddresses +
                  L"\"C:\\Program Files\\Vexlo\\QVHook32.dll\"");
}

TEST_F(DriverPreparation, AFullRunSignsTheLibrariesBuildsConfiguresAndSignsBothDrivers) {
    TPreparation preparation;
    TPreparedHook& hook = preparation.Hook;
    // Drivers of an earlier run, to be replaced.
    preparation.Folder.Write(L"Vexlo Live Protection\\QVHookDrv32.sys", "old driver");
    preparation.Folder.Write(L"Vexlo Live Protection\\QVHookDrv64.sys", "old driver");

    EXPECT_TRUE(hook.BlendFiles());
    EXPECT_EQ(
        hook.Log(),
        Joined({{L"", L"32 bit library not signed, trying to sign....."},
                ToolLines(L"signtool", 1),
                {L"Signed 32 bit library.", L"64 bit library not signed, trying to sign....."},
                ToolLines(L"signtool", 2),
                {L"Signed 64 bit library.", L"", L"Fresh copy of 32 bit driver created.",
                 L"Fresh copy of 64 bit driver created.", L""},
                ToolLines(L"madConfigDrv", 1),
                {L"Configured 32 bit driver.", L""},
                ToolLines(L"madConfigDrv", 2),
                {L"Configured 64 bit driver.", L""},
                ToolLines(L"signtool", 3),
                {L"Signed 32 bit driver.", L""},
                ToolLines(L"signtool", 4),
                {L"Signed 64 bit driver."}}));

    const std::wstring signTool = L"\"" + preparation.SignTool + L"\" " + SignOptions;
    const std::wstring& product = preparation.Product;
    EXPECT_EQ(preparation.SignToolCalls(),
              (std::vector<std::wstring>{
                  signTool + L"\"Vexlo On Access 32 bit driver\"" + SignAddresses + L"\"" +
                      product + L"QVHook32.dll\"",
                  // The 64-bit library is signed with the 32-bit description.
                  signTool + L"\"Vexlo On Access 32 bit driver\"" + SignAddresses + L"\"" +
                      product + L"QVHook64.dll\"",
                  signTool + L"\"Vexlo On Access 32 bit driver\"" + SignAddresses + L"\"" +
                      product + L"QVHookDrv32.sys\"",
                  signTool + L"\"Vexlo On Access 64 bit driver\"" + SignAddresses + L"\"" +
                      product + L"QVHookDrv64.sys\"",
              }));
    const std::wstring configurationTool = L"\"" + preparation.Tools + L"madConfigDrv.exe\" ";
    EXPECT_EQ(
        preparation.ConfigurationToolCalls(),
        (std::vector<std::wstring>{
            configurationTool + L"\"" + product + L"QVHookDrv32.sys\" QVHookDriver \"" + product +
                L"QVHook32.dll\" -unsafeStopAllowed",
            configurationTool + L"\"" + product + L"QVHookDrv64.sys\" QVHookDriver \"" + product +
                L"QVHook32.dll\" \"" + product + L"QVHook64.dll\" -unsafeStopAllowed",
        }));
    // The configuration tool stand-in changes nothing: the drivers are the templates.
    EXPECT_EQ(ReadWholeFile(product + L"QVHookDrv32.sys"),
              ReadWholeFile(preparation.Tools + Template32Name));
    EXPECT_EQ(ReadWholeFile(product + L"QVHookDrv64.sys"),
              ReadWholeFile(preparation.Tools + Template64Name));
}

TEST_F(DriverPreparation, TrustedLibrariesAreNotSignedAgain) {
    TPreparation preparation(L"signed.exe");
    ASSERT_EQ(FileTrustStatus(preparation.Hook.LibraryFilename32()), tsSuccess);
    EXPECT_TRUE(preparation.Hook.BlendFiles());
    const std::vector<std::wstring>& log = preparation.Hook.Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::wstring>(log.begin(), log.begin() + 3),
              (std::vector<std::wstring>{L"", L"", L"Fresh copy of 32 bit driver created."}));
    const std::vector<std::wstring> signingCalls = preparation.SignToolCalls();
    ASSERT_EQ(signingCalls.size(), 2u);
    EXPECT_NE(signingCalls[0].find(L"QVHookDrv32.sys"), std::wstring::npos);
    EXPECT_NE(signingCalls[1].find(L"QVHookDrv64.sys"), std::wstring::npos);
}

// Each row leaves its setting empty or its file missing or in use: the run
// ends before anything is changed, with that one line.
TEST_F(DriverPreparation, AMissingSettingOrFileEndsTheRunWithItsOneLine) {
    TKernelHandle held;
    const struct {
        const char* Name;
        std::function<void(TPreparation&)> Arrange;
        std::function<std::wstring(const TPreparation&)> Line;
    } cases[] = {
        {"driver name", [](TPreparation& p) { p.Hook.SetDriverName(L""); },
         [](const TPreparation&) { return L"No driver name specified, exiting."; }},
        {"32-bit driver", [](TPreparation& p) { p.Hook.SetDriverFilename32(L""); },
         [](const TPreparation&) { return L"No 32 bit driver specified, exiting."; }},
        {"64-bit driver", [](TPreparation& p) { p.Hook.SetDriverFilename64(L""); },
         [](const TPreparation&) { return L"No 64 bit driver specified, exiting."; }},
        {"32-bit library", [](TPreparation& p) { p.Hook.SetLibraryFilename32(L""); },
         [](const TPreparation&) { return L"No 32 bit library specified, exiting."; }},
        {"64-bit library", [](TPreparation& p) { p.Hook.SetLibraryFilename64(L""); },
         [](const TPreparation&) { return L"No 64 bit library specified, exiting."; }},
        {"signing tool", [](TPreparation& p) { ::DeleteFileW(p.SignTool.c_str()); },
         [](const TPreparation& p) {
             return L"Could not find signtool.exe, expected it at " + p.SignTool;
         }},
        {"configuration tool",
         [](TPreparation& p) { ::DeleteFileW((p.Tools + L"madConfigDrv.exe").c_str()); },
         [](const TPreparation& p) {
             return L"Could not find madConfigDrv.exe, expected it at " + p.Tools +
                    L"madConfigDrv.exe";
         }},
        {"32-bit template",
         [](TPreparation& p) { ::DeleteFileW((p.Tools + Template32Name).c_str()); },
         [](const TPreparation& p) {
             return L"Could not find renameme32 (with version resource).sys, expected it at " +
                    p.Tools + Template32Name;
         }},
        {"64-bit template",
         [](TPreparation& p) { ::DeleteFileW((p.Tools + Template64Name).c_str()); },
         [](const TPreparation& p) {
             return L"Could not find renameme64 (with version resource).sys, expected it at " +
                    p.Tools + Template64Name;
         }},
        {"64-bit driver in use",
         [&held](TPreparation& p) {
             const std::wstring driver =
                 p.Folder.Write(L"Vexlo Live Protection\\QVHookDrv64.sys", "in use");
             held.reset(::CreateFileW(driver.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
         },
         [](const TPreparation& p) {
             return L"Could not delete " + p.Product + L"QVHookDrv64.sys, still in use maybe?";
         }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        TPreparation preparation;
        row.Arrange(preparation);
        EXPECT_FALSE(preparation.Hook.BlendFiles());
        EXPECT_EQ(preparation.Hook.Log(), std::vector<std::wstring>{row.Line(preparation)});
        EXPECT_TRUE(preparation.SignToolCalls().empty());
        held.reset();
    }
}

// Each row makes one step fail: the run ends with that step's line or with
// the failing tool's output, and nothing after it runs.
TEST_F(DriverPreparation, AFailingStepEndsTheRunWithItsLineOrItsToolsOutput) {
    const struct {
        const char* Name;
        std::function<void(TPreparation&)> Arrange;
        std::function<std::vector<std::wstring>(const TPreparation&)> LastLines;
        size_t SignToolCalls;
    } cases[] = {
        {"signing the 64-bit library",
         [](TPreparation& p) { p.Folder.Write(L"SDK\\signtool.exitcodes", "0 1"); },
         [](const TPreparation&) {
             return Joined(
                 {{L"64 bit library not signed, trying to sign....."}, ToolLines(L"signtool", 2)});
         },
         2},
        {"a signing tool that does not start",
         [](TPreparation& p) { p.Folder.Write(L"SDK\\signtool.exe", "not a program"); },
         [](const TPreparation&) {
             return std::vector<std::wstring>{L"",
                                              L"32 bit library not signed, trying to sign....."};
         },
         0},
        {"copying the 32-bit driver",
         [](TPreparation& p) { p.Hook.SetDriverFilename32(p.Product + L"missing\\drv32.sys"); },
         [](const TPreparation& p) {
             return std::vector<std::wstring>{L"Signed 64 bit library.", L"",
                                              L"Could not copy 32 bit driver " + p.Tools +
                                                  Template32Name + L" to " + p.Product +
                                                  L"missing\\drv32.sys!"};
         },
         2},
        {"configuring the 32-bit driver",
         [](TPreparation& p) {
             p.Folder.Write(L"madCodeHook\\Driver\\madConfigDrv.exitcodes", "1");
         },
         [](const TPreparation&) {
             return Joined(
                 {{L"Fresh copy of 64 bit driver created.", L""}, ToolLines(L"madConfigDrv", 1)});
         },
         2},
        {"signing the 64-bit driver",
         [](TPreparation& p) { p.Folder.Write(L"SDK\\signtool.exitcodes", "0 0 0 7"); },
         [](const TPreparation&) {
             return Joined({{L"Signed 32 bit driver.", L""}, ToolLines(L"signtool", 4)});
         },
         4},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        TPreparation preparation;
        row.Arrange(preparation);
        EXPECT_FALSE(preparation.Hook.BlendFiles());
        const std::vector<std::wstring>& log = preparation.Hook.Log();
        const std::vector<std::wstring> expected = row.LastLines(preparation);
        ASSERT_GE(log.size(), expected.size());
        EXPECT_EQ(std::vector<std::wstring>(log.end() - expected.size(), log.end()), expected);
        EXPECT_EQ(preparation.SignToolCalls().size(), row.SignToolCalls);
    }
}

} // namespace
