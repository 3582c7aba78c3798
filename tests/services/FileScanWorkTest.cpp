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

#include "fixtures/QVFSSvc/FileScanWork.h"
#include "hook/VexloHook.h"
#include "platform/ProgramPath.h"
#include "tests/services/LoopbackProbe.h"
#include "tests/services/ServiceTestSupport.h"
#include "tests/support/RecordingHookLayer.h"

namespace {

enum TOutcome { ocDone, ocFails, ocRaises };

// A driver and library that keep their state, and the changes asked of them.
class TStatefulLayer : public TRecordingHookLayer {
public:
    bool Installed = false, Running = false, Injected = false;
    TOutcome Outcome = ocDone; // of every changing operation
    std::vector<std::string>& Trace;

    TStatefulLayer(std::vector<std::wstring>& ACalls, std::vector<std::string>& ATrace)
        : TRecordingHookLayer(ACalls), Trace(ATrace) {}

    bool IsModuleLoaded(const std::string& AFileName) override {
        TRecordingHookLayer::IsModuleLoaded(AFileName);
        return Injected;
    }

protected:
    BOOL Respond(const std::wstring& AName) override {
        if (AName == L"IsDriverInstalled")
            return Installed;
        if (AName == L"IsDriverRunning")
            return Running;
        // Nothing to inject with while the driver does not run.
        if (AName == L"InjectLibrary" && !Running)
            return FALSE;
        const struct {
            const wchar_t* Call;
            const char* Name;
            bool TStatefulLayer::*State;
            bool Value;
        } changes[] = {
            {L"InstallDriver", "install", &TStatefulLayer::Installed, true},
            {L"LoadDriver", "load", &TStatefulLayer::Running, true},
            {L"UninstallDriver", "uninstall", &TStatefulLayer::Installed, false},
            {L"StartDriver", "start", &TStatefulLayer::Running, true},
            {L"StopDriver", "stop", &TStatefulLayer::Running, false},
            {L"InjectLibrary", "inject", &TStatefulLayer::Injected, true},
            {L"UninjectLibrary", "uninject", &TStatefulLayer::Injected, false},
            {L"UninjectAllLibraries", "uninject all", &TStatefulLayer::Injected, false},
        };
        for (const auto& change : changes) {
            if (AName != change.Call)
                continue;
            Trace.push_back(change.Name);
            if (Outcome == ocRaises)
                throw std::runtime_error("layer failed");
            if (Outcome == ocFails)
                return FALSE;
            this->*change.State = change.Value;
            return TRUE;
        }
        return TRecordingHookLayer::Respond(AName);
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
        std::vector<std::wstring> calls;
        std::vector<std::string> trace;
        auto layer = std::make_unique<TStatefulLayer>(calls, trace);
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
