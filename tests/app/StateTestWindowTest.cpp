// The real tool started in a copy of the demo folder under Xvfb: its start-up
// log ends with the state test, with the file-scan service installed and
// running beside it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/StateTest.h"
#include "tests/automation/Automation.h"
#include "tests/automation/DemoCopy.h"
#include "tests/services/ServiceTestSupport.h"

namespace {

// The mark of an answer line, as a Boolean; fails the test on another line.
bool Answer(const std::wstring& ALine, const std::wstring& ALabel) {
    EXPECT_TRUE(ALine == L"[+] " + ALabel || ALine == L"[-] " + ALabel) << ALine.c_str();
    return ALine.rfind(L"[+] ", 0) == 0;
}

TEST(StateTestWindow, TheStartUpLogEndsWithTheStateTest) {
    TDemoCopy demo(L"statetest-demo");
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
