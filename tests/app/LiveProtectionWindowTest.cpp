// The Live Protection buttons end to end: the real tool in a copy of the demo
// folder under Xvfb, the fixture driver, hook library and file-scan service
// doing the work for real, each press followed by its state test.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "Automation.h"
#include "DemoCopy.h"
#include "InjectionDriver.h"
#include "ServiceTestSupport.h"

namespace {

constexpr const wchar_t* DriverName = L"QVHookDriver";

// Stops and removes the product's driver and its libraries whatever a test
// left, before and after it.
class TCleanDriver {
public:
    TCleanDriver() { Clean(); }
    ~TCleanDriver() { Clean(); }

private:
    static void Clean() {
        InjUninjectAllLibraries(DriverName, nullptr, 7000);
        InjStopDriver(DriverName);
        InjUninstallDriver(DriverName);
    }
};

std::vector<std::wstring> StateTest(const wchar_t* AInstalled, const wchar_t* ARunning,
                                    const wchar_t* AInjected, const wchar_t* AVerdict,
                                    const wchar_t* AService = L"[-] ") {
    return {L"",
            L"[ State Test ]",
            AService + std::wstring(L"SERVICE PRESENCE"),
            AService + std::wstring(L"SERVICE RUNNING"),
            AInstalled + std::wstring(L"INSTALLED"),
            ARunning + std::wstring(L"RUNNING"),
            AInjected + std::wstring(L"INJECTED"),
            AVerdict};
}

const wchar_t* const Yes = L"[+] ";
const wchar_t* const No = L"[-] ";

class LiveProtectionWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FService.Delete());
        ASSERT_NE(FTool.WaitForMainWindow(), nullptr);
    }
    void TearDown() override { EXPECT_EQ(FTool.Close(), 0u); }

    // The lines a press appended to the log.
    std::vector<std::wstring> Press(const std::wstring& ACaption) {
        const size_t before = FTool.LogLines().size();
        const auto box = FTool.Press(ACaption);
        EXPECT_FALSE(box.has_value()) << (box ? box->Text : L"");
        const std::vector<std::wstring> lines = FTool.LogLines();
        return std::vector<std::wstring>(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                         lines.end());
    }

    TCleanDriver FCleanDriver;
    TTestService FService{L"QVScannerService"};
    TDemoCopy FDemo{L"buttons-demo"};
    TAutomatedTool FTool{FDemo.File(L"derodo.exe")};
};

TEST_F(LiveProtectionWindow, SingleStepsFromInstallToUninstallAndLoadUntilReboot) {
    EXPECT_EQ(Press(L"Install Live Protection"),
              StateTest(Yes, No, No, L"[-] Live Protection is installed, but not running!"));
    EXPECT_EQ(
        Press(L"Start Live Protection"),
        StateTest(Yes, Yes, No, L"[-] Live Protection is installed, running, but not active!"));
    EXPECT_EQ(Press(L"Activate Live Protection"),
              StateTest(Yes, Yes, Yes, L"[+] Live Protection is active."));
    EXPECT_EQ(
        Press(L"Deactivate Live Protection"),
        StateTest(Yes, Yes, No, L"[-] Live Protection is installed, running, but not active!"));
    EXPECT_EQ(Press(L"Stop Live Protection"),
              StateTest(Yes, No, No, L"[-] Live Protection is installed, but not running!"));
    EXPECT_EQ(Press(L"Uninstall Live Protection (might need reboot)"),
              StateTest(No, No, No, L"[-] Live Protection is not installed!"));
    EXPECT_EQ(
        Press(L"Load Live Protection until reboot"),
        StateTest(No, Yes, No, L"[+] Live Protection is not installed, but running until reboot."));

    // Pressed again, Uninstall has nothing left to remove.
    std::vector<std::wstring> expected = {
        L"[-] UNINSTALL: The Live Protection System Driver could not be uninstalled.",
        L"[-] UNINSTALL: A reboot might be needed to completely deactive Live Protection."};
    const std::vector<std::wstring> state =
        StateTest(No, Yes, No, L"[+] Live Protection is not installed, but running until reboot.");
    expected.insert(expected.end(), state.begin(), state.end());
    EXPECT_EQ(Press(L"Uninstall Live Protection (might need reboot)"), expected);
}

TEST_F(LiveProtectionWindow, DirectMethodFromACleanState) {
    std::vector<std::wstring> expected = {L"", L"[ Run Test (Direct Method) ]", L"[+] InstallHook"};
    const std::vector<std::wstring> state =
        StateTest(Yes, Yes, Yes, L"[+] Live Protection is active.");
    expected.insert(expected.end(), state.begin(), state.end());
    EXPECT_EQ(Press(L"Run test (direct method)"), expected);
}

TEST_F(LiveProtectionWindow, ServiceMethodInstallsAndStartsTheServiceWhichActivates) {
    std::vector<std::wstring> expected = {L"",
                                          L"[ Run Test (Service Method) ]",
                                          L"[i] Service not installed, trying to install...",
                                          L"[+] Service Installation",
                                          L"[i] Service not running, trying to start...",
                                          L"[+] Service Start",
                                          L"[+] SERVICE PRESENCE"};
    const std::vector<std::wstring> lines = Press(L"Run Test (Service method)");
    ASSERT_GE(lines.size(), expected.size() + 9);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 7), expected);
    // The start request returns before the service runs; the state test below
    // shows it running after it answered the activation.
    const std::vector<std::wstring> state =
        StateTest(Yes, Yes, Yes, L"[+] Live Protection is active.", Yes);
    EXPECT_EQ(std::vector<std::wstring>(lines.end() - 8, lines.end()), state);
}

} // namespace
