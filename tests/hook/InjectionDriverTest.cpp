#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "hook/ExportTable.h"
#include "hook/InjectionDriver.h"
#include "hook/InjectionOutcomes.h"
#include "hook/InjectionRecord.h"
#include "hook/InjectionRules.h"
#include "hook/ProcessAccess.h"
#include "hook/ProcessModules.h"
#include "hook/RemoteThreads.h"
#include "hook/VexloHook.h"
#include "platform/Handles.h"
#include "platform/WinText.h"
#include "tests/hook/HookTestSupport.h"
#include "tests/services/DebugLogCapture.h"
#include "tests/support/MachineLimits.h"

namespace {

// --- The rules ---

TEST(InjectionRules, TheDriverFileFollowsTheNativeArchitecture) {
    const struct {
        WORD Architecture;
        const wchar_t* Expected;
    } cases[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, L"d32"}, {PROCESSOR_ARCHITECTURE_AMD64, L"d64"},
        {PROCESSOR_ARCHITECTURE_ARM64, L"d64"}, {PROCESSOR_ARCHITECTURE_IA64, L"d64"},
        {PROCESSOR_ARCHITECTURE_ARM, L"d32"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(DriverFileForArchitecture(c.Architecture, L"d32", L"d64"), c.Expected)
            << c.Architecture;
}

TEST(InjectionRules, MasksAdmitProcessesByExecutableName) {
    const struct {
        const wchar_t* Include;
        const wchar_t* Exclude;
        const wchar_t* Exe;
        bool Admitted;
    } cases[] = {
        {nullptr, nullptr, L"a.exe", true},
        {L"", L"", L"a.exe", true},
        {L"a.exe", nullptr, L"A.EXE", true},
        {L"b.exe|a.exe", nullptr, L"a.exe", true},
        {L"b.exe", nullptr, L"a.exe", false},
        {L"ba.exe|a.ex", nullptr, L"a.exe", false},
        {L"|a.exe|", nullptr, L"a.exe", true},
        {L"b.exe| a.exe ", nullptr, L"a.exe", true},
        {L"|", nullptr, L"a.exe", false},
        {nullptr, L"QVOnAccess.exe|MpCmdRun.exe", L"mpcmdrun.exe", false},
        {nullptr, L"QVOnAccess.exe|MpCmdRun.exe", L"explorer.exe", true},
        {L"a.exe", L"a.exe", L"a.exe", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProcessAdmitted(c.Exe, c.Include, c.Exclude), c.Admitted)
            << WideToUtf8(c.Include ? c.Include : L"(null)") << " / "
            << WideToUtf8(c.Exclude ? c.Exclude : L"(null)") << " / " << WideToUtf8(c.Exe);
}

TEST(InjectionRules, ALibraryPairServesEachBitness) {
    const struct {
        const wchar_t* Library;
        bool Is64Bit;
        const wchar_t* Expected;
    } cases[] = {
        {L"C:\\P\\QVHook32.dll", true, L"C:\\P\\QVHook64.dll"},
        {L"C:\\P\\QVHook64.dll", true, L"C:\\P\\QVHook64.dll"},
        {L"C:\\P\\QVHook64.dll", false, L"C:\\P\\QVHook32.dll"},
        {L"C:\\P\\QVHook32.dll", false, L"C:\\P\\QVHook32.dll"},
        {L"C:\\P\\Hook.dll", true, L"C:\\P\\Hook.dll"},
        {L"C:\\P32\\Hook.dll", true, L"C:\\P32\\Hook.dll"},
        {L"C:\\v1.32\\Hook", true, L"C:\\v1.32\\Hook"},
        {L"C:\\P\\Hook32", true, L"C:\\P\\Hook64"},
        {L"32.dll", true, L"64.dll"},
        {L"2.dll", true, L"2.dll"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LibraryForBitness(c.Library, c.Is64Bit), c.Expected)
            << WideToUtf8(c.Library) << " " << c.Is64Bit;
}

TEST(InjectionRules, EachProcessGetsTheLibraryOfItsMachine) {
    const uint16_t none = PEMachineUnknown;
    const struct {
        uint16_t Native;
        uint16_t Wow64;
        uint16_t Image;
        TProcessLibrary Expected;
    } cases[] = {
        {PEMachineAMD64, none, none, pl64},
        {PEMachineAMD64, PEMachineI386, none, pl32},
        {PEMachineARM64, PEMachineI386, none, pl32},
        {PEMachineARM64, PEMachineARMNT, none, plNone},
        // Outside WOW64 on ARM64 only the executable tells emulated x64 from native.
        {PEMachineARM64, none, PEMachineAMD64, pl64},
        {PEMachineARM64, none, PEMachineARM64EC, pl64},
        {PEMachineARM64, none, PEMachineARM64, plNone},
        {PEMachineARM64, none, none, plNone},
        {PEMachineI386, none, none, pl32},
        {none, none, none, plNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LibraryForProcess(c.Native, c.Wow64, c.Image), c.Expected)
            << std::hex << c.Native << " " << c.Wow64 << " " << c.Image;
        EXPECT_EQ(ProcessNeedsImageMachine(c.Native, c.Wow64),
                  c.Native == PEMachineARM64 && c.Wow64 == none);
    }
}

TEST(InjectionOutcomes, EachAdmittedProcessEndsInOneOutcome) {
    const auto facts = [](auto AChange) {
        TVisitFacts f;
        AChange(f);
        return f;
    };
    const struct {
        const char* Name;
        TVisitFacts Facts;
        TInjectionOutcomeKind Load;
        TInjectionOutcomeKind Free;
    } cases[] = {
        {"done: a handle came back", facts([](TVisitFacts& f) { f.ExitCode = 0x10000000; }),
         iokDone, iokDone},
        {"answered 0, the library not there", facts([](TVisitFacts& f) { f.ExitCode = 0; }),
         iokRefused, iokRefused},
        {"answered 0, yet there: a module whose handle's low half is 0",
         facts([](TVisitFacts& f) { f.LoadedAfterAll = true; }), iokDone, iokRefused},
        {"the thread still runs", facts([](TVisitFacts& f) { f.ThreadEnded = false; }), iokLate,
         iokLate},
        {"the time was up before its turn", facts([](TVisitFacts& f) { f.Reached = false; }),
         iokLate, iokLate},
        {"the thread still runs in a process that has ended", facts([](TVisitFacts& f) {
             f.ThreadEnded = false;
             f.ProcessEnded = true;
         }),
         iokEnded, iokEnded},
        {"the thread ended with its process", facts([](TVisitFacts& f) {
             f.ExitCode = 1;
             f.ProcessEnded = true;
         }),
         iokEnded, iokEnded},
        {"frozen: passed over", facts([](TVisitFacts& f) { f.Frozen = true; }), iokFrozen,
         iokFrozen},
        {"critical: passed over, also when frozen", facts([](TVisitFacts& f) {
             f.Critical = true;
             f.Frozen = true;
         }),
         iokCritical, iokCritical},
        {"protected: passed over as a critical one", facts([](TVisitFacts& f) {
             f.Protected = true;
             f.Frozen = true;
         }),
         iokCritical, iokCritical},
        {"not opened", facts([](TVisitFacts& f) { f.Opened = false; }), iokNotOpened, iokNotOpened},
        {"nothing to do", facts([](TVisitFacts& f) { f.Start = vsNothingToDo; }), iokDone, iokDone},
        {"no library of the pair", facts([](TVisitFacts& f) { f.Start = vsNoLibrary; }),
         iokNoLibrary, iokNoLibrary},
        {"no thread started", facts([](TVisitFacts& f) { f.Start = vsNotStarted; }), iokNotStarted,
         iokNotStarted},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyVisit(idLoad, c.Facts), c.Load) << c.Name;
        EXPECT_EQ(ClassifyVisit(idFree, c.Facts), c.Free) << c.Name;
    }
    for (int kind = 0; kind < iokCount; ++kind)
        EXPECT_EQ(OutcomeFailsCall(static_cast<TInjectionOutcomeKind>(kind)), kind == iokLate)
            << kind;
}

TEST(InjectionOutcomes, TheCountsLineNamesEveryOutcome) {
    TInjectionCounts counts;
    EXPECT_FALSE(counts.Failed());
    for (TInjectionOutcomeKind kind : {iokDone, iokDone, iokRefused, iokFrozen, iokCritical,
                                       iokNotOpened, iokNotStarted, iokNoLibrary, iokEnded})
        counts.Add(kind);
    EXPECT_FALSE(counts.Failed()) << "refused, frozen, critical and the rest do not fail";
    EXPECT_EQ(InjectionCountsText(L"InjInjectLibrary", L"C:\\P\\QVHook32.dll", idLoad, counts),
              L"InjInjectLibrary C:\\P\\QVHook32.dll: loaded 2, refused 1, late 0, frozen 1, "
              L"critical 1, not opened 1, not started 1, no library 1, ended 1");
    counts.Add(iokLate);
    EXPECT_TRUE(counts.Failed());
    EXPECT_EQ(InjectionCountsText(L"InjUninjectLibrary", L"h.dll", idFree, TInjectionCounts{}),
              L"InjUninjectLibrary h.dll: unloaded 0, refused 0, late 0, frozen 0, critical 0, "
              L"not opened 0, not started 0, no library 0, ended 0");
}

// --- The driver under the service control manager ---

struct TDriverConfig {
    DWORD Type = 0;
    DWORD StartType = 0;
    std::wstring Image;
    std::wstring Description;
};

TDriverConfig DriverConfig(const wchar_t* AName) {
    TDriverConfig config;
    const TServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const TServiceHandle service(::OpenServiceW(manager.get(), AName, SERVICE_QUERY_CONFIG));
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    if (::QueryServiceConfigW(service.get(),
                              reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                              static_cast<DWORD>(buffer.size()), &needed)) {
        const auto* info = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        config.Type = info->dwServiceType;
        config.StartType = info->dwStartType;
        config.Image = info->lpBinaryPathName ? info->lpBinaryPathName : L"";
    }
    if (::QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &needed)) {
        const auto* info = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data());
        config.Description = info->lpDescription ? info->lpDescription : L"";
    }
    return config;
}

class InjectionDriver : public testing::Test {
protected:
    TTestDriver FDriver;
    TScratchFolder FFolder;
    const std::wstring F32 = TTestDriver::File32();
    const std::wstring F64 = TTestDriver::File64();
};

TEST_F(InjectionDriver, InstallStartStopAndUninstall) {
    const wchar_t* name = FDriver.Name();
    ASSERT_TRUE(InjInstallDriver(name, F32.c_str(), F64.c_str(), L"Hook Test Driver"));
    EXPECT_TRUE(InjIsDriverInstalled(name));
    EXPECT_FALSE(InjIsDriverRunning(name));
    const TDriverConfig config = DriverConfig(name);
    EXPECT_EQ(config.Type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(config.StartType, static_cast<DWORD>(SERVICE_SYSTEM_START));
    EXPECT_EQ(config.Image, F64) << "the 64-bit driver on 64-bit Windows";
    EXPECT_EQ(config.Description, L"Hook Test Driver");

    ASSERT_TRUE(InjStartDriver(name));
    EXPECT_TRUE(InjIsDriverRunning(name));
    EXPECT_TRUE(InjStartDriver(name)) << "a running driver counts as started";

    ASSERT_TRUE(InjStopDriver(name));
    EXPECT_FALSE(InjIsDriverRunning(name));
    EXPECT_TRUE(InjIsDriverInstalled(name));
    EXPECT_TRUE(InjStopDriver(name)) << "a stopped driver counts as stopped";

    ASSERT_TRUE(InjUninstallDriver(name));
    EXPECT_FALSE(InjIsDriverInstalled(name));
    EXPECT_FALSE(InjUninstallDriver(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(InjectionDriver, InstallTakesOverAnExistingRegistration) {
    const wchar_t* name = FDriver.Name();
    const std::wstring other = FFolder.CopyFixture(L"QVHookDrv64.sys", L"other.sys");
    {
        const TServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        const TServiceHandle service(::CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS,
                                                      SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                                      SERVICE_ERROR_IGNORE, other.c_str(), nullptr,
                                                      nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service);
    }
    ASSERT_TRUE(InjInstallDriver(name, F32.c_str(), F64.c_str(), L"Second description"));
    const TDriverConfig config = DriverConfig(name);
    EXPECT_EQ(config.StartType, static_cast<DWORD>(SERVICE_SYSTEM_START));
    EXPECT_EQ(config.Image, F64);
    EXPECT_EQ(config.Description, L"Second description");
}

TEST_F(InjectionDriver, UninstallLeavesARunningDriverRunningUntilStopped) {
    const wchar_t* name = FDriver.Name();
    ASSERT_TRUE(InjInstallDriver(name, F32.c_str(), F64.c_str(), L""));
    ASSERT_TRUE(InjStartDriver(name));
    ASSERT_TRUE(InjUninstallDriver(name));
    EXPECT_FALSE(InjIsDriverInstalled(name));
    EXPECT_TRUE(InjIsDriverRunning(name));
    ASSERT_TRUE(InjStopDriver(name));
    EXPECT_FALSE(InjIsDriverRunning(name));
}

TEST_F(InjectionDriver, LoadRunsTheDriverWithoutInstallingIt) {
    const wchar_t* name = FDriver.Name();
    ASSERT_TRUE(InjLoadDriver(name, F32.c_str(), F64.c_str()));
    EXPECT_FALSE(InjIsDriverInstalled(name));
    EXPECT_TRUE(InjIsDriverRunning(name));
    // Until it stops, the deleted registration blocks a new one.
    EXPECT_FALSE(InjInstallDriver(name, F32.c_str(), F64.c_str(), L""));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

    ASSERT_TRUE(InjStopDriver(name));
    EXPECT_FALSE(InjIsDriverRunning(name));
    EXPECT_FALSE(InjStartDriver(name)) << "a stopped loaded driver is gone";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

// A load never changes or removes a registration it did not make: it only
// makes sure the driver runs. Asked through the hook settings as the state
// test asks.
struct TLoadCase {
    const char* Name;
    bool Registered;
    bool Running;
};

class LoadInjectionDriver : public InjectionDriver,
                            public testing::WithParamInterface<TLoadCase> {};

TEST_P(LoadInjectionDriver, LeavesAnExistingRegistrationAsItWas) {
    const TLoadCase& c = GetParam();
    const wchar_t* name = FDriver.Name();
    TVexloHook hook;
    UseTestNames(hook, FDriver, FFolder, TestUniqueName(L"Ld"));
    const std::wstring installed = FFolder.CopyFixture(L"QVHookDrv64.sys", L"installed.sys");
    if (c.Registered) {
        ASSERT_TRUE(InjInstallDriver(name, installed.c_str(), installed.c_str(), L"Installed"));
        if (c.Running) {
            ASSERT_TRUE(InjStartDriver(name));
        }
    }
    const TDriverConfig before = DriverConfig(name);

    ASSERT_TRUE(hook.LoadInjectionDriver());
    EXPECT_EQ(hook.IsInjectionDriverInstalled(), c.Registered) << "INSTALLED";
    EXPECT_TRUE(hook.IsInjectionDriverRunning()) << "RUNNING";
    if (c.Registered) {
        const TDriverConfig after = DriverConfig(name);
        EXPECT_EQ(after.Type, before.Type);
        EXPECT_EQ(after.StartType, static_cast<DWORD>(SERVICE_SYSTEM_START));
        EXPECT_EQ(after.Image, installed);
        EXPECT_EQ(after.Description, L"Installed");
    }

    // Stopped, an installation stays; a registration of the load's own goes.
    ASSERT_TRUE(hook.StopInjectionDriver());
    EXPECT_EQ(hook.IsInjectionDriverInstalled(), c.Registered);
    EXPECT_EQ(hook.StartInjectionDriver(), c.Registered);
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadInjectionDriver,
                         testing::Values(TLoadCase{"NothingRegistered", false, false},
                                         TLoadCase{"RegisteredAndStopped", true, false},
                                         TLoadCase{"RegisteredAndRunning", true, true}),
                         [](const testing::TestParamInfo<TLoadCase>& AInfo) {
                             return std::string(AInfo.param.Name);
                         });

TEST_F(InjectionDriver, FailuresLeaveTheirCauseAsLastError) {
    const wchar_t* name = FDriver.Name();
    const std::wstring missing = FFolder.Path() + L"missing.sys";
    EXPECT_FALSE(InjInstallDriver(name, missing.c_str(), missing.c_str(), L""));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(InjIsDriverInstalled(name));
    EXPECT_FALSE(InjLoadDriver(name, missing.c_str(), missing.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_FALSE(InjStartDriver(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(InjStopDriver(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    // A file that is no driver registers, but does not start. The code differs
    // between Wine and Windows.
    const std::wstring garbage = FFolder.Write(L"garbage.sys", "not a driver");
    ASSERT_TRUE(InjInstallDriver(name, garbage.c_str(), garbage.c_str(), L""));
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InjStartDriver(name));
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(InjIsDriverRunning(name));

    // A load that fails leaves no registration of its own behind.
    const TTestDriver loaded(L"Load");
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InjLoadDriver(loaded.Name(), garbage.c_str(), garbage.c_str()));
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(InjIsDriverInstalled(loaded.Name()));
    EXPECT_FALSE(InjUninstallDriver(loaded.Name()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(InjectionDriver, UnknownDriversAreNeitherInstalledNorRunning) {
    EXPECT_FALSE(InjIsDriverInstalled(FDriver.Name()));
    EXPECT_FALSE(InjIsDriverRunning(FDriver.Name()));
    EXPECT_FALSE(InjIsDriverInstalled(L""));
    EXPECT_FALSE(InjIsDriverRunning(L""));
}

// --- Injection ---

bool LoadedHere(const std::wstring& AFileName) {
    return InjFindModule(WideToAnsi(AFileName).c_str()).IsStillValid();
}

std::wstring Upper(std::wstring AText) {
    ::CharUpperW(AText.data());
    return AText;
}

// Whether the process says it has that module loaded.
bool Reports(const TTargetProcess& AProcess, const std::wstring& AFileName) {
    return AProcess.ReportedModules().count(Upper(AFileName)) != 0;
}

// The one counts line of the injection call ARoutine among the captured lines.
std::wstring CountsLine(const TDebugLogCapture& ALog, const std::wstring& ARoutine) {
    std::wstring found;
    for (const std::wstring& line : ALog.Lines()) {
        if (line.find(L" " + ARoutine + L" ") == std::wstring::npos)
            continue;
        EXPECT_TRUE(found.empty()) << "a second line: " << WideToUtf8(line);
        found = line;
    }
    return found;
}

bool Holds(const std::wstring& ALine, const std::wstring& APart) {
    return ALine.find(APart) != std::wstring::npos;
}

// A running test driver, a pair of hook libraries and executable names of
// the test's own, so that tests running side by side never see each other's
// libraries or processes.
class Injection : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InjInstallDriver(FDriver.Name(), TTestDriver::File32().c_str(),
                                     TTestDriver::File64().c_str(), L""));
        ASSERT_TRUE(InjStartDriver(FDriver.Name()));
        FLibrary32 = FFolder.CopyFixture(L"QVHook32.dll", FStem + L"32.dll");
        FFolder.CopyFixture(L"QVHook64.dll", FStem + L"64.dll");
    }

    BOOL Inject(const std::wstring& AInclude, const wchar_t* AExclude = nullptr,
                BOOL AOtherProcesses = TRUE, DWORD ATimeout = 5000) {
        return InjInjectLibrary(FDriver.Name(), FLibrary32.c_str(), InjAllSessions, AOtherProcesses,
                                AInclude.c_str(), AExclude, nullptr, ATimeout);
    }

    TTestDriver FDriver;
    TScratchFolder FFolder;
    const std::wstring FStem = TestUniqueName(L"Hk");
    const std::wstring FExe = FStem + L".exe";
    const std::wstring FExe32 = FStem + L"W.exe";
    // The library the tests name, and the ones of the pair each bitness gets.
    std::wstring FLibrary32;
    const std::wstring FLoaded = FStem + L"64.dll";
    const std::wstring FLoaded32 = FStem + L"32.dll";
};

TEST_F(Injection, OneActivationReachesBothBitnessesAndUninjectLeavesBoth) {
    SKIP_WITHOUT_32BIT_INJECTION();
    const TTargetProcess target64(FFolder, FExe);
    const TTargetProcess target32(FFolder, FExe32, tbPlain, tb32);
    // The activation of the hook settings, with the product's flag and time-out.
    TVexloHook hook;
    UseTestNames(hook, FDriver, FFolder, FStem);
    hook.SetIncludeMask(FExe + L"|" + FExe32);
    ASSERT_TRUE(hook.InjectLibrary32());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(hook.IsLibraryInjected());
    EXPECT_TRUE(Reports(target64, FLoaded));
    EXPECT_FALSE(Reports(target64, FLoaded32));
    EXPECT_TRUE(Reports(target32, FLoaded32));
    EXPECT_FALSE(Reports(target32, FLoaded));
    ASSERT_TRUE(hook.InjectLibrary32()) << "injecting again";

    ASSERT_TRUE(hook.UnInjectLibrary32());
    EXPECT_FALSE(hook.IsLibraryInjected()) << "a second injection takes no second reference";
    EXPECT_FALSE(Reports(target64, FLoaded));
    EXPECT_FALSE(Reports(target32, FLoaded32));
    EXPECT_TRUE(target64.Running());
    EXPECT_TRUE(target32.Running());
}

struct TMaskCase {
    const char* Name;
    // "*" stands for the target's executable name, "^" for it in capitals.
    const wchar_t* Include;
    const wchar_t* Exclude;
    BOOL OtherProcesses;
    bool Reached;
};

std::wstring WithTarget(const wchar_t* AMask, const std::wstring& AExe) {
    std::wstring mask = AMask ? AMask : L"";
    if (const size_t star = mask.find(L'*'); star != std::wstring::npos)
        mask.replace(star, 1, AExe);
    if (const size_t caret = mask.find(L'^'); caret != std::wstring::npos)
        mask.replace(caret, 1, Upper(AExe));
    return mask;
}

class InjectionMasks : public Injection,
                       public testing::WithParamInterface<std::tuple<TMaskCase, TTargetBitness>> {};

TEST_P(InjectionMasks, DecideWhichOtherProcessesAreReached) {
    const auto& [c, bitness] = GetParam();
    if (bitness == tb32)
        SKIP_WITHOUT_32BIT_INJECTION();
    const TTargetProcess target(FFolder, FExe, tbPlain, bitness);
    const std::wstring exclude = WithTarget(c.Exclude, FExe);
    ASSERT_TRUE(Inject(WithTarget(c.Include, FExe), c.Exclude ? exclude.c_str() : nullptr,
                       c.OtherProcesses));
    EXPECT_TRUE(LoadedHere(FLoaded)) << "the calling process always";
    EXPECT_EQ(Reports(target, bitness == tb32 ? FLoaded32 : FLoaded), c.Reached);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InjectionMasks,
    testing::Combine(testing::Values(TMaskCase{"Included", L"*", nullptr, TRUE, true},
                                     TMaskCase{"IncludedInCapitals", L"^", nullptr, TRUE, true},
                                     TMaskCase{"NotIncluded", L"other.exe", nullptr, TRUE, false},
                                     TMaskCase{"Excluded", L"*", L"a.exe|^", TRUE, false},
                                     TMaskCase{"CallerOnly", L"*", nullptr, FALSE, false}),
                     testing::Values(tb64, tb32)),
    [](const testing::TestParamInfo<std::tuple<TMaskCase, TTargetBitness>>& AInfo) {
        return std::string(std::get<0>(AInfo.param).Name) +
               (std::get<1>(AInfo.param) == tb32 ? "In32Bit" : "In64Bit");
    });

TEST_F(Injection, FailsWhileTheDriverIsNotRunning) {
    ASSERT_TRUE(InjStopDriver(FDriver.Name()));
    EXPECT_FALSE(Inject(FExe));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_FALSE(LoadedHere(FLoaded));

    EXPECT_FALSE(InjInjectLibrary(L"QVNoSuchDriver", FLibrary32.c_str(), InjAllSessions, TRUE,
                                  nullptr, nullptr, nullptr, 5000));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(Injection, FailsWhenTheLibraryDoesNotLoadHere) {
    const std::wstring missing = FFolder.Path() + L"Missing32.dll";
    EXPECT_FALSE(InjInjectLibrary(FDriver.Name(), missing.c_str(), InjAllSessions, TRUE,
                                  FExe.c_str(), nullptr, nullptr, 5000));
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // Only the 32-bit library of a pair, which a 64-bit process cannot load.
    ::DeleteFileW((FFolder.Path() + FLoaded).c_str());
    EXPECT_FALSE(Inject(FExe));
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(Injection, AStuckProcessCostsOnlyItself) {
    SKIP_WITHOUT_32BIT_INJECTION();
    // The stuck ones first, so that they come before the healthy ones.
    const TTargetProcess stuck(FFolder, FStem + L"S.exe", tbStuck);
    const TTargetProcess stuck2(FFolder, FStem + L"T.exe", tbStuck);
    const TTargetProcess healthy64(FFolder, FExe);
    const TTargetProcess healthy32(FFolder, FExe32, tbPlain, tb32);
    const DWORD timeout = 2000;
    TDebugLogCapture log;
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(Inject(FStem + L"S.exe|" + FStem + L"T.exe|" + FExe + L"|" + FExe32, nullptr, TRUE,
                        timeout));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    // Waiting for each stuck process in turn would take the time-out twice.
    EXPECT_LT(elapsed, 2 * timeout);
    EXPECT_TRUE(LoadedHere(FLoaded));
    EXPECT_TRUE(Reports(healthy64, FLoaded));
    EXPECT_TRUE(Reports(healthy32, FLoaded32));
    EXPECT_FALSE(stuck.HasModule(FLoaded));
    const std::wstring counts = CountsLine(log, L"InjInjectLibrary");
    EXPECT_TRUE(Holds(counts, L", late 2, ")) << WideToUtf8(counts);
}

// As many stuck processes as there are workers: were a worker held by one
// until the time-out, the healthy processes after them would all be late.
TEST_F(Injection, StuckProcessesHoldNoWorkerFromTheOthers) {
    std::vector<std::unique_ptr<TTargetProcess>> stuck;
    std::vector<std::unique_ptr<TTargetProcess>> healthy;
    std::wstring mask;
    for (size_t i = 0; i < RemoteWorkers; ++i) {
        const std::wstring exe = FStem + L"S" + std::to_wstring(i) + L".exe";
        stuck.push_back(std::make_unique<TTargetProcess>(FFolder, exe, tbStuck));
        mask += exe + L"|";
    }
    for (size_t i = 0; i < 2; ++i) {
        const std::wstring exe = FStem + L"H" + std::to_wstring(i) + L".exe";
        healthy.push_back(std::make_unique<TTargetProcess>(FFolder, exe));
        mask += exe + L"|";
    }
    TDebugLogCapture log;
    EXPECT_FALSE(Inject(mask, nullptr, TRUE, 2000));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    for (const auto& target : healthy)
        EXPECT_TRUE(Reports(*target, FLoaded));
    for (const auto& target : stuck)
        EXPECT_FALSE(target->HasModule(FLoaded));
    const std::wstring counts = CountsLine(log, L"InjInjectLibrary");
    EXPECT_TRUE(
        Holds(counts, L": loaded 2, refused 0, late " + std::to_wstring(stuck.size()) + L", "))
        << WideToUtf8(counts);
}

TEST_F(Injection, ARefusedLoadIsCountedAndDoesNotFailTheCall) {
    const TTargetProcess healthy(FFolder, FExe);
    const TTargetProcess refusing(FFolder, FStem + L"R.exe", tbRefusing);
    const std::wstring mask = FExe + L"|" + FStem + L"R.exe";
    TDebugLogCapture log;
    ASSERT_TRUE(Inject(mask));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(Reports(healthy, FLoaded));
    EXPECT_FALSE(Reports(refusing, FLoaded)) << "the fixture library declines there";
    const std::wstring injected = CountsLine(log, L"InjInjectLibrary");
    EXPECT_TRUE(Holds(injected, L": loaded 1, refused 1, late 0, frozen 0, critical 0, "
                                L"not opened 0, not started 0, no library 0, ended 0"))
        << WideToUtf8(injected);

    // Injecting again: the healthy one has it, the refusing one refuses again.
    log.Clear();
    ASSERT_TRUE(Inject(mask));
    EXPECT_TRUE(Holds(CountsLine(log, L"InjInjectLibrary"), L": loaded 1, refused 1, late 0"));

    log.Clear();
    ASSERT_TRUE(InjUninjectLibrary(FDriver.Name(), FLibrary32.c_str(), InjAllSessions, TRUE,
                                   mask.c_str(), nullptr, nullptr, 5000));
    EXPECT_FALSE(Reports(healthy, FLoaded));
    // Neither holds the library any more: the refusing one never did.
    const std::wstring uninjected = CountsLine(log, L"InjUninjectLibrary");
    EXPECT_TRUE(Holds(uninjected, L": unloaded 2, refused 0, late 0")) << WideToUtf8(uninjected);
}

TEST_F(Injection, ItsOutcomeIsTheCountsLinesAndIsTakenOnce) {
    const TTargetProcess healthy(FFolder, FExe);
    const TTargetProcess refusing(FFolder, FStem + L"R.exe", tbRefusing);
    const std::wstring mask = FExe + L"|" + FStem + L"R.exe";
    InjTakeLastOutcome();
    TDebugLogCapture log;
    ASSERT_TRUE(Inject(mask));
    std::optional<TInjectionOutcome> outcome = InjTakeLastOutcome();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->Direction, idLoad);
    EXPECT_EQ(outcome->Admitted(), 2u);
    EXPECT_EQ(outcome->Unreached(), 0u);
    const std::wstring line = CountsLine(log, L"InjInjectLibrary");
    EXPECT_TRUE(Holds(line, InjectionCountsText(L"", L"", idLoad, outcome->Counts).substr(2)))
        << WideToUtf8(line);
    EXPECT_FALSE(InjTakeLastOutcome()) << "taken once";

    ASSERT_TRUE(InjUninjectAllLibraries(FDriver.Name(), nullptr, 5000));
    outcome = InjTakeLastOutcome();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->Direction, idFree);
    // Every process of the session, the two targets among them.
    EXPECT_GE(outcome->Counts[iokDone], 2u);

    // An injection into this process alone reaches no other process.
    ASSERT_TRUE(Inject(mask, nullptr, FALSE));
    EXPECT_FALSE(InjTakeLastOutcome());
}

TEST_F(Injection, UninjectAllRemovesEveryLibraryOfTheDriver) {
    SKIP_WITHOUT_32BIT_INJECTION();
    const TTargetProcess target(FFolder, FExe);
    const TTargetProcess target32(FFolder, FExe32, tbPlain, tb32);
    const std::wstring second = FFolder.CopyFixture(L"QVHook64.dll", FStem + L"Second.dll");
    ASSERT_TRUE(Inject(FExe + L"|" + FExe32));
    ASSERT_TRUE(InjInjectLibrary(FDriver.Name(), second.c_str(), InjAllSessions, TRUE, FExe.c_str(),
                                 nullptr, nullptr, 5000));
    ASSERT_TRUE(Reports(target, FStem + L"Second.dll"));
    ASSERT_TRUE(Reports(target32, FLoaded32));

    ASSERT_TRUE(InjUninjectAllLibraries(FDriver.Name(), nullptr, 5000));
    for (const std::wstring& library : {FLoaded, FStem + L"Second.dll"}) {
        EXPECT_FALSE(LoadedHere(library)) << WideToUtf8(library);
        EXPECT_FALSE(Reports(target, library)) << WideToUtf8(library);
    }
    EXPECT_FALSE(Reports(target32, FLoaded32));
}

TEST_F(Injection, UninjectAllKeepsTheFirstFailuresError) {
    // A record entry that no uninjection can take (no library name), ahead of a real one.
    {
        TRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(
                      HKEY_LOCAL_MACHINE,
                      (L"SOFTWARE\\Quorvane Tessit\\HookInjection\\" + std::wstring(FDriver.Name()))
                          .c_str(),
                      0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, key.addressof(),
                      nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                                   sizeof(wchar_t)),
                  ERROR_SUCCESS);
    }
    ASSERT_TRUE(Inject(FExe));
    ASSERT_EQ(RecordedInjections(FDriver.Name()).size(), 2u);
    ASSERT_EQ(RecordedInjections(FDriver.Name()).front(), L"") << "the failing one comes first";

    EXPECT_FALSE(InjUninjectAllLibraries(FDriver.Name(), nullptr, 5000));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(LoadedHere(FLoaded)) << "the later ones are still uninjected";
}

// --- Rights ---

// The system's opening of processes, with every request recorded and the
// standing of processes played from a table by process id (Wine has no
// critical, protected or frozen processes); a process may also be refused
// the opens beyond the first.
class TRecordingProcessAccess : public TProcessAccess {
public:
    TKernelHandle Open(DWORD AAccess, DWORD AProcessId) override {
        const std::lock_guard<std::mutex> lock(FLock);
        FRequests[AProcessId].push_back(AAccess);
        if (AAccess != AskAccess && FRefused.count(AProcessId) != 0) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return {};
        }
        return SystemProcessAccess().Open(AAccess, AProcessId);
    }
    TProcessStanding Standing(HANDLE AProcess) override {
        const auto played = FStandings.find(::GetProcessId(AProcess));
        return played == FStandings.end() ? SystemProcessAccess().Standing(AProcess)
                                          : played->second;
    }

    void Play(DWORD AProcessId, TProcessStanding AStanding) { FStandings[AProcessId] = AStanding; }
    void Refuse(DWORD AProcessId) { FRefused.insert(AProcessId); }
    std::vector<DWORD> Requests(DWORD AProcessId) {
        const std::lock_guard<std::mutex> lock(FLock);
        return FRequests[AProcessId];
    }
    void Clear() {
        const std::lock_guard<std::mutex> lock(FLock);
        FRequests.clear();
    }

private:
    std::mutex FLock;
    std::map<DWORD, std::vector<DWORD>> FRequests;
    std::map<DWORD, TProcessStanding> FStandings;
    std::set<DWORD> FRefused;
};

std::string AccessText(const std::vector<DWORD>& ARequests) {
    std::string text;
    for (const DWORD access : ARequests) {
        char number[16];
        std::snprintf(number, sizeof(number), " 0x%lX", access);
        text += number;
    }
    return text;
}

TEST_F(Injection, EachProcessIsOpenedOnlyForWhatIsDoneToIt) {
    const std::vector<DWORD> asked = {AskAccess};
    const std::vector<DWORD> read = {AskAccess, ReadAccess};
    const struct {
        const char* Kind;
        const wchar_t* Suffix;
        TProcessStanding Standing;
        bool Refused; // every open beyond asking
        bool Excluded;
        std::vector<DWORD> Load;  // the opens of an injection
        std::vector<DWORD> Again; // of a second one
        std::vector<DWORD> Free;  // of the uninjection
        bool Gets;
    } kinds[] = {
        {"ordinary",
         L"O",
         {},
         false,
         false,
         {AskAccess, ReadAccess, LoadThreadAccess},
         read,
         {AskAccess, ReadAccess, FreeThreadAccess},
         true},
        {"critical", L"C", {true, false, false}, false, false, asked, asked, asked, false},
        {"protected", L"P", {false, true, false}, false, false, asked, asked, asked, false},
        {"frozen", L"F", {false, false, true}, false, false, asked, asked, asked, false},
        {"excluded", L"X", {}, false, true, {}, {}, {}, false},
        {"refused beyond asking", L"R", {}, true, false, read, read, read, false},
    };
    TRecordingProcessAccess access;
    std::vector<std::unique_ptr<TTargetProcess>> targets;
    std::wstring include;
    std::wstring exclude;
    for (const auto& kind : kinds) {
        const std::wstring exe = FStem + kind.Suffix + L".exe";
        targets.push_back(std::make_unique<TTargetProcess>(FFolder, exe));
        access.Play(targets.back()->ProcessId(), kind.Standing);
        if (kind.Refused)
            access.Refuse(targets.back()->ProcessId());
        include += exe + L"|";
        if (kind.Excluded)
            exclude += exe;
    }
    const auto press = [&](TInjectionDirection ADirection) {
        access.Clear();
        return RunInOtherProcesses(InjAllSessions, include.c_str(), exclude.c_str(), 5000,
                                   LibraryWork(ADirection, FLibrary32), access);
    };

    const TInjectionCounts loaded = press(idLoad);
    EXPECT_EQ(loaded[iokDone], 1u);
    EXPECT_EQ(loaded[iokCritical], 2u) << "critical and protected";
    EXPECT_EQ(loaded[iokFrozen], 1u);
    EXPECT_EQ(loaded[iokNotOpened], 1u);
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::vector<DWORD> requests = access.Requests(targets[i]->ProcessId());
        EXPECT_EQ(requests, kinds[i].Load) << kinds[i].Kind << ":" << AccessText(requests);
        EXPECT_EQ(Reports(*targets[i], FLoaded), kinds[i].Gets) << kinds[i].Kind;
    }

    const TInjectionCounts again = press(idLoad);
    EXPECT_EQ(again[iokDone], 1u);
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::vector<DWORD> requests = access.Requests(targets[i]->ProcessId());
        EXPECT_EQ(requests, kinds[i].Again) << kinds[i].Kind << ":" << AccessText(requests);
    }

    const TInjectionCounts freed = press(idFree);
    EXPECT_EQ(freed[iokDone], 1u);
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::vector<DWORD> requests = access.Requests(targets[i]->ProcessId());
        EXPECT_EQ(requests, kinds[i].Free) << kinds[i].Kind << ":" << AccessText(requests);
        EXPECT_FALSE(Reports(*targets[i], FLoaded)) << kinds[i].Kind;
    }
}

// --- Module lookup ---

TEST(ModuleLookup, FindsAModuleOfTheCallingProcessByItsFileName) {
    EXPECT_TRUE(InjFindModule("kernel32.dll").IsStillValid());
    EXPECT_TRUE(InjFindModule("KERNEL32.DLL").IsStillValid());
    EXPECT_FALSE(InjFindModule("kernel32").IsStillValid());
    EXPECT_FALSE(InjFindModule("QVNoSuchModule.dll").IsStillValid());
    EXPECT_FALSE(InjFindModule("").IsStillValid());
    EXPECT_FALSE(InjFindModule(nullptr).IsStillValid());
    // Asked after a failed injection, it keeps that failure's code readable.
    ::SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_FALSE(InjFindModule("QVNoSuchModule.dll").IsStillValid());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

    // Wherever it was loaded from, and only while it stays loaded.
    const TScratchFolder folder;
    const std::wstring name = TestUniqueName(L"Lookup") + L".dll";
    const std::wstring library = folder.CopyFixture(L"QVHook64.dll", name);
    TModuleHandle module(::LoadLibraryW(library.c_str()));
    ASSERT_TRUE(module);
    const TModuleLookup lookup = InjFindModule(WideToAnsi(name).c_str());
    EXPECT_EQ(lookup.Module(), module.get());
    EXPECT_TRUE(lookup.IsStillValid());
    ASSERT_TRUE(::FreeLibrary(module.release()));
    EXPECT_FALSE(lookup.IsStillValid());
}

// What can be done in a 32-bit process wherever one runs, emulated too:
// its module list and its own kernel32's exports, read from its memory.
TEST(ModuleLookup, ReadsTheModulesAndKernel32ExportsOfA32BitProcess) {
    SKIP_WITHOUT_32BIT_PROCESSES();
    const TScratchFolder folder;
    const TTargetProcess target(folder, TestUniqueName(L"Lk") + L".exe", tbPlain, tb32);
    const TKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, target.ProcessId()));
    ASSERT_TRUE(process);
    EXPECT_EQ(LibraryKindOf(process.get()), pl32);
    const HMODULE kernel32 = FindModuleIn(process.get(), L"kernel32.dll", pl32);
    ASSERT_NE(kernel32, nullptr);
    const auto base = reinterpret_cast<ULONG_PTR>(kernel32);
    EXPECT_LT(base, 0x100000000ull) << "a module of the 32-bit address space";
    const auto loadLibrary = reinterpret_cast<ULONG_PTR>(
        reinterpret_cast<void*>(RemoteKernel32Routine(process.get(), pl32, "LoadLibraryW")));
    EXPECT_GT(loadLibrary, base);
    EXPECT_LT(loadLibrary, 0x100000000ull);
}

// A process that has just been created, before its loader has run: its
// module list is not set up yet.
TEST(ModuleLookup, AProcessThatHasJustStartedIsAskedAgainBriefly) {
    const TScratchFolder folder;
    const std::wstring name = TestUniqueName(L"New") + L".exe";
    const std::wstring program = folder.CopyFixture(L"injectiontarget.exe", name);
    const std::wstring event = L"Local\\" + TestUniqueName(L"ready");
    const TKernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    std::wstring commandLine = L"\"" + program + L"\" " + event;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                 CREATE_SUSPENDED, nullptr, nullptr, &startup, &info));
    const TKernelHandle process(info.hProcess);
    const TKernelHandle thread(info.hThread);

    // Never resumed: no list, and that is said, after the short bound.
    const ULONGLONG start = ::GetTickCount64();
    const TModuleSearch suspended = SearchModuleIn(process.get(), name, pl64);
    EXPECT_FALSE(suspended.Listed);
    EXPECT_EQ(suspended.Module, nullptr);
    EXPECT_LT(::GetTickCount64() - start, 5000u) << "ended within its bound";

    // Resumed while it is asked: read once the loader has set the list up.
    // Under Wine that list first holds only some of the modules.
    std::jthread resume([&] {
        ::Sleep(50);
        ::ResumeThread(thread.get());
    });
    const TModuleSearch started = SearchModuleIn(process.get(), name, pl64);
    resume.join();
    EXPECT_TRUE(started.Listed);
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 10000);
}

} // namespace
