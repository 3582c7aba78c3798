// The work behind the file-scan service's commands: which driver and library
// operations each command runs, against a driver that keeps its state; then
// QVFSSvc.exe doing it for real on the product's driver "QVHookDriver"
// (these tests hold its lock), injecting into this test's process only.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FileScanWork.h"
#include "LoopbackProbe.h"
#include "ProgramPath.h"
#include "ServiceTestSupport.h"
#include "VexloHook.h"

namespace {

enum TOutcome { ocDone, ocFails, ocRaises };

// A driver and library that keep their state, and the operations asked of them.
class TStatefulLayer : public THookLayer {
public:
    bool Installed = false, Running = false, Injected = false;
    TOutcome Outcome = ocDone; // of every changing operation
    std::vector<std::string>& Trace;

    explicit TStatefulLayer(std::vector<std::string>& ATrace) : Trace(ATrace) {}

    BOOL InstallDriver(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override {
        return Change("install", Installed, true);
    }
    BOOL LoadDriver(LPCWSTR, LPCWSTR, LPCWSTR) override { return Change("load", Running, true); }
    BOOL UninstallDriver(LPCWSTR) override { return Change("uninstall", Installed, false); }
    BOOL StartDriver(LPCWSTR) override { return Change("start", Running, true); }
    BOOL StopDriver(LPCWSTR) override { return Change("stop", Running, false); }
    BOOL IsDriverInstalled(LPCWSTR) override { return Installed; }
    BOOL IsDriverRunning(LPCWSTR) override { return Running; }
    BOOL InjectLibrary(LPCWSTR, LPCWSTR, DWORD, BOOL, LPCWSTR, LPCWSTR, const void*,
                       DWORD) override {
        return Running && Change("inject", Injected, true);
    }
    BOOL UninjectLibrary(LPCWSTR, LPCWSTR, DWORD, BOOL, LPCWSTR, LPCWSTR, const void*,
                         DWORD) override {
        return Change("uninject", Injected, false);
    }
    BOOL UninjectAllLibraries(LPCWSTR, const void*, DWORD) override {
        return Change("uninject all", Injected, false);
    }
    bool IsModuleLoaded(const std::string&) override { return Injected; }
    bool EnablePrivilege(const char*) override { return true; }

private:
    BOOL Change(const char* AName, bool& AState, bool AValue) {
        Trace.push_back(AName);
        if (Outcome == ocRaises)
            throw std::runtime_error("layer failed");
        if (Outcome == ocFails)
            return FALSE;
        AState = AValue;
        return TRUE;
    }
};

struct TWorkCase {
    TFileScanCommand Command;
    bool Installed, Running;
    TOutcome Outcome;
    int Status;
    std::vector<std::string> Trace;
};

TEST(FileScanWork, EachCommandRunsItsOperations) {
    const TWorkCase cases[] = {
        {fcLPActivate, false, false, ocDone, 200, {"install", "start", "inject"}},
        {fcLPActivate, true, false, ocDone, 200, {"start", "inject"}},
        // Loaded until reboot: running, not installed, and not installed again.
        {fcLPActivate, false, true, ocDone, 200, {"inject"}},
        {fcLPActivate, true, true, ocDone, 200, {"inject"}},
        {fcLPActivate, false, false, ocFails, 500, {"install"}},
        {fcLPActivate, true, false, ocFails, 500, {"start"}},
        {fcInject, true, true, ocDone, 200, {"inject"}},
        {fcInject, true, false, ocDone, 500, {}},
        {fcInject, true, true, ocRaises, 500, {"inject"}},
        {fcUninject, true, true, ocDone, 200, {"uninject"}},
        {fcUninject, true, true, ocFails, 500, {"uninject"}},
        {fcNone, true, true, ocDone, 404, {}},
    };
    for (const TWorkCase& c : cases) {
        std::vector<std::string> trace;
        auto layer = std::make_unique<TStatefulLayer>(trace);
        layer->Installed = c.Installed;
        layer->Running = c.Running;
        layer->Outcome = c.Outcome;
        TVexloHook hook(std::move(layer));
        EXPECT_EQ(RunFileScanCommand(hook, c.Command), c.Status) << c.Command;
        EXPECT_EQ(trace, c.Trace) << c.Command << c.Installed << c.Running << c.Outcome;
    }
}

// The product's hook with the files beside the test (where QVFSSvc.exe takes
// them from too), reaching this process only. Removes what the service left.
class TProductHookHere : public TVexloHook {
public:
    TProductHookHere() {
        SetDriverFilename32(ProgramFolder() + L"QVHookDrv32.sys");
        SetDriverFilename64(ProgramFolder() + L"QVHookDrv64.sys");
        SetLibraryFilename32(ProgramFolder() + L"QVHook32.dll");
        SetLibraryFilename64(ProgramFolder() + L"QVHook64.dll");
        SetIncludeMask(ExtractFileName(ProgramFileName()));
    }
    ~TProductHookHere() { Remove(); }

    void Remove() {
        if (IsInjectionDriverRunning())
            UnInjectLibrary32();
        StopInjectionDriver();
        UninstallInjectionDriver();
    }
};

TEST(FileScanServiceWork, TheThreeCommandsDoTheWorkForReal) {
    TProductHookHere hook;
    hook.Remove();
    ASSERT_FALSE(hook.IsInjectionDriverInstalled());
    ASSERT_FALSE(hook.IsLibraryInjected());

    TTestService service(UniqueServiceName(L"DerodoFileScanWork"));
    const unsigned short port = UniqueTestPort();
    ASSERT_TRUE(service.Create(SiblingCommandLine(L"QVFSSvc.exe")));
    ASSERT_TRUE(service.SetValue(L"ServiceWebPortFileScanner", port));
    ASSERT_TRUE(service.SetText(L"HookIncludeMask", ExtractFileName(ProgramFileName())));
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(service.WaitForState(SERVICE_RUNNING));

    // Without a running driver there is nothing to inject with.
    EXPECT_EQ(LoopbackGet(port, "/inject"), 500);
    EXPECT_FALSE(hook.IsLibraryInjected());

    ASSERT_EQ(LoopbackGet(port, "/lpactivate"), 200);
    EXPECT_TRUE(hook.IsInjectionDriverInstalled());
    EXPECT_TRUE(hook.IsInjectionDriverRunning());
    EXPECT_TRUE(hook.IsLibraryInjected());

    EXPECT_EQ(LoopbackGet(port, "/uninject"), 200);
    EXPECT_FALSE(hook.IsLibraryInjected());
    EXPECT_EQ(LoopbackGet(port, "/inject"), 200);
    EXPECT_TRUE(hook.IsLibraryInjected());
    // Active already: nothing more to do but inject again.
    EXPECT_EQ(LoopbackGet(port, "/lpactivate"), 200);
    EXPECT_EQ(LoopbackGet(port, "/uninject"), 200);
    EXPECT_EQ(LoopbackGet(port, "/uninject"), 200);
    EXPECT_FALSE(hook.IsLibraryInjected());
}

} // namespace
