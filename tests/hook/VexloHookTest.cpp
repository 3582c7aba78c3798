#include <gtest/gtest.h>

#include <stdexcept>

#include "hook/VexloHook.h"
#include "platform/ProgramPath.h"
#include "tests/hook/HookTestSupport.h"

namespace {

// Restores the product-wide hook file paths a test changes.
class VexloHook : public testing::Test {
protected:
    void TearDown() override {
        HookDriverFile32 = FSaved[0];
        HookDriverFile64 = FSaved[1];
        HookLibraryFile32 = FSaved[2];
        HookLibraryFile64 = FSaved[3];
        ShutDownVexloHook();
    }

private:
    const std::wstring FSaved[4] = {HookDriverFile32, HookDriverFile64, HookLibraryFile32,
                                    HookLibraryFile64};
};

TEST_F(VexloHook, TheFilePathsAreRelativeUntilStartUp) {
    EXPECT_EQ(HookDriverFile32, L".\\QVHookDrv32.sys");
    EXPECT_EQ(HookDriverFile64, L".\\QVHookDrv64.sys");
    EXPECT_EQ(HookLibraryFile32, L".\\QVHook32.dll");
    EXPECT_EQ(HookLibraryFile64, L".\\QVHook64.dll");
}

TEST_F(VexloHook, TheProductSettingsForAProgramInAGivenFolder) {
    MakeHookFilePathsAbsolute(L"D:\\Earlier\\");
    MakeHookFilePathsAbsolute(L"C:\\Tools\\");
    const TVexloHook hook;
    EXPECT_EQ(hook.DriverName(), L"QVHookDriver");
    EXPECT_EQ(hook.DriverFilename32(), L"C:\\Tools\\QVHookDrv32.sys");
    EXPECT_EQ(hook.DriverFilename64(), L"C:\\Tools\\QVHookDrv64.sys");
    EXPECT_EQ(hook.LibraryFilename32(), L"C:\\Tools\\QVHook32.dll");
    EXPECT_EQ(hook.LibraryFilename64(), L"C:\\Tools\\QVHook64.dll");
    EXPECT_EQ(hook.InjectionProcessHandle(), 0xFFFFFFFFu);
    // Inherited unchanged.
    EXPECT_EQ(hook.DriverDescription(), L"Hook Test Driver");
    EXPECT_EQ(hook.ExcludeMask(), L"QVOnAccess.exe|MpCmdRun.exe");
    EXPECT_EQ(hook.IncludeMask(), L"");
}

TEST_F(VexloHook, HookInstanceLivesFromStartUpToShutDown) {
    EXPECT_THROW(HookInstance(), std::logic_error);
    StartUpVexloHook();
    EXPECT_EQ(HookInstance().DriverFilename32(), ProgramFolder() + L"QVHookDrv32.sys");
    EXPECT_EQ(HookInstance().LibraryFilename64(), ProgramFolder() + L"QVHook64.dll");
    ShutDownVexloHook();
    EXPECT_THROW(HookInstance(), std::logic_error);
}

TEST_F(VexloHook, HookInstanceFindsTheHookLibraryWhereverItWasLoadedFrom) {
    StartUpVexloHook();
    const TScratchFolder folder;
    const TModuleHandle library(
        ::LoadLibraryW(folder.CopyFixture(L"QVHook64.dll", L"QVHook64.dll").c_str()));
    ASSERT_TRUE(library);
    EXPECT_TRUE(HookInstance().IsLibraryInjected());
}

TEST_F(VexloHook, TheOperationsDriveTheRealDriverAndLibrary) {
    const TTestDriver driver;
    const TScratchFolder folder;
    TVexloHook hook;
    UseTestNames(hook, driver, folder, TestUniqueName(L"Hk"));

    EXPECT_FALSE(hook.IsInjectionDriverInstalled());
    ASSERT_TRUE(hook.InstallInjectionDriver());
    ASSERT_TRUE(hook.StartInjectionDriver());
    EXPECT_TRUE(hook.IsInjectionDriverInstalled());
    EXPECT_TRUE(hook.IsInjectionDriverRunning());
    EXPECT_FALSE(hook.IsLibraryInjected());
    // The 32-bit library named, its 64-bit pair loaded into this process.
    ASSERT_TRUE(hook.InjectLibrary32());
    EXPECT_TRUE(hook.IsLibraryInjected());
    ASSERT_TRUE(hook.UnInjectLibrary32());
    EXPECT_FALSE(hook.IsLibraryInjected());
    ASSERT_TRUE(hook.StopInjectionDriver());
    ASSERT_TRUE(hook.UninstallInjectionDriver());
    EXPECT_FALSE(hook.IsInjectionDriverInstalled());
}

} // namespace
