// The real tool started in a copy of the demo folder under Xvfb: its start-up
// log ends with the state test, with the file-scan service installed and
// running beside it.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Automation.h"
#include "ServiceTestSupport.h"
#include "StateTest.h"

namespace {

namespace fs = std::filesystem;

// A copy of the demo folder of this test's own, removed at the end.
class TDemoCopy {
public:
    TDemoCopy()
        : FFolder(fs::path(TestProgramFolder()) /
                  (L"statetest-demo-" + std::to_wstring(::GetCurrentProcessId()))) {
        fs::remove_all(FFolder);
        fs::copy(fs::path(TestProgramFolder()) / DERODO_DEMO_FROM_BIN, FFolder,
                 fs::copy_options::recursive);
    }
    ~TDemoCopy() {
        std::error_code ignored;
        fs::remove_all(FFolder, ignored);
    }
    std::wstring File(const std::wstring& AName) const { return (FFolder / AName).wstring(); }

private:
    fs::path FFolder;
};

// The mark of an answer line, as a Boolean; fails the test on another line.
bool Answer(const std::wstring& ALine, const std::wstring& ALabel) {
    EXPECT_TRUE(ALine == L"[+] " + ALabel || ALine == L"[-] " + ALabel) << ALine.c_str();
    return ALine.rfind(L"[+] ", 0) == 0;
}

TEST(StateTestWindow, TheStartUpLogEndsWithTheStateTest) {
    TDemoCopy demo;
    TTestService service(L"QVScannerService");
    ASSERT_TRUE(service.Delete());
    ASSERT_TRUE(service.Create(L"\"" + demo.File(L"QVFSSvc.exe") + L"\""));
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(service.WaitForState(SERVICE_RUNNING));

    TAutomatedTool tool(demo.File(L"derodo.exe"));
    ASSERT_NE(tool.WaitForMainWindow(), nullptr);
    const std::vector<std::wstring> lines = tool.LogLines();
    ASSERT_GE(lines.size(), 8u);
    const std::vector<std::wstring> section(lines.end() - 8, lines.end());
    EXPECT_EQ(section[0], L"");
    EXPECT_EQ(section[1], L"[ State Test ]");
    EXPECT_EQ(section[2], L"[+] SERVICE PRESENCE");
    EXPECT_EQ(section[3], L"[+] SERVICE RUNNING");
    // The driver's state is whatever the session holds: the verdict must follow from it.
    const bool installed = Answer(section[4], L"INSTALLED");
    const bool running = Answer(section[5], L"RUNNING");
    const bool injected = Answer(section[6], L"INJECTED");
    const TStateVerdict verdict = StateVerdict(installed, running, injected);
    EXPECT_EQ(section[7], (verdict.Success ? L"[+] " : L"[-] ") + std::wstring(verdict.Text));
    EXPECT_EQ(tool.Close(), 0u);
}

} // namespace
