// The service primitives against the real service control manager under Wine,
// on services of this test's own (teststatesvc.exe).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "diagnostics/CommandLineParameters.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "services/Services.h"
#include "tests/services/DebugLogCapture.h"
#include "tests/services/ServiceTestSupport.h"

namespace {

constexpr DWORD Untouched = 777;
constexpr long NoSuchService = ERROR_SERVICE_DOES_NOT_EXIST; // 1060

class ServicePrimitives : public ::testing::Test {
protected:
    TTestService FService{UniqueServiceName(L"DerodoPrimitive")};
    TDebugLogCapture FLog;
};

TEST_F(ServicePrimitives, AMissingServiceGivesItsCodeAndOneLinePerRoutine) {
    struct TCase {
        bool (*Routine)(const std::wstring&, DWORD&);
        const wchar_t* Tag;
    };
    const TCase cases[] = {
        {&vxnServiceExists, L"vxnServiceExists.OpenServiceW"},
        {&vxnServiceRunning, L"vxnServiceRunning.OpenServiceW"},
        {&vxnServiceStart, L"vxnServiceStart.OpenServiceW"},
    };
    for (const TCase& c : cases) {
        FLog.Clear();
        DWORD code = Untouched;
        EXPECT_FALSE(c.Routine(FService.Name(), code));
        EXPECT_EQ(code, static_cast<DWORD>(NoSuchService));
        EXPECT_EQ(FLog.Errors(), (std::vector<TLoggedError>{{c.Tag, NoSuchService}}));
    }
}

TEST_F(ServicePrimitives, AManagerThatCannotBeOpenedGivesItsCodeAndOneLinePerRoutine) {
    struct TDatabase {
        TDatabase() { SetServiceDatabase(L"DerodoNoSuchDatabase"); }
        ~TDatabase() { SetServiceDatabase(L""); }
    } unknownDatabase;
    using TRoutine = bool (*)(const std::wstring&, DWORD&);
    const TRoutine install = [](const std::wstring& AName, DWORD& ACode) {
        return vxnServiceInstall(L"teststatesvc.exe", AName, AName, L"Nowhere", ACode);
    };
    const std::pair<TRoutine, const wchar_t*> cases[] = {
        {&vxnServiceExists, L"vxnServiceExists.OpenSCManager"},
        {&vxnServiceRunning, L"vxnServiceRunning.OpenSCManager"},
        {&vxnServiceStart, L"vxnServiceStart.OpenSCManager"},
        {install, L"vxnServiceInstall.OpenSCManager"},
    };
    for (const auto& [routine, tag] : cases) {
        FLog.Clear();
        DWORD code = Untouched;
        EXPECT_FALSE(routine(FService.Name(), code)) << tag;
        EXPECT_NE(code, Untouched);
        EXPECT_NE(code, 0u);
        EXPECT_EQ(FLog.Errors(), (std::vector<TLoggedError>{{tag, static_cast<long>(code)}}));
    }
    EXPECT_EQ(FService.ReadText(L"Description"), L"<missing>");
}

TEST_F(ServicePrimitives, AStoppedServiceIsStartedAndRunsWhenTheStartAnswers) {
    ASSERT_TRUE(FService.Create(SiblingCommandLine(L"teststatesvc.exe")));

    DWORD code = Untouched;
    EXPECT_TRUE(vxnServiceExists(FService.Name(), code));
    EXPECT_FALSE(vxnServiceRunning(FService.Name(), code));
    EXPECT_EQ(code, Untouched);

    EXPECT_TRUE(vxnServiceStart(FService.Name(), code));
    EXPECT_EQ(code, 0u);
    SERVICE_STATUS status{};
    ASSERT_TRUE(FService.Query(status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(ServiceComingUp(FService.Name()));

    code = Untouched;
    EXPECT_TRUE(vxnServiceRunning(FService.Name(), code));
    EXPECT_EQ(code, Untouched);
    // Running already: true without a request, code 0.
    EXPECT_TRUE(vxnServiceStart(FService.Name(), code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(FLog.Lines().empty());
}

TEST_F(ServicePrimitives, AServiceStillStartingIsRefusedWithCodeZero) {
    ASSERT_TRUE(FService.Create(SiblingCommandLine(L"teststatesvc.exe", L"pending")));
    TKernelHandle release(
        ::CreateEventW(nullptr, TRUE, FALSE, (FService.Name() + L".release").c_str()));
    ASSERT_TRUE(FService.Start());
    ASSERT_TRUE(FService.WaitForState(SERVICE_START_PENDING));

    DWORD code = Untouched;
    EXPECT_FALSE(vxnServiceStart(FService.Name(), code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(vxnServiceRunning(FService.Name(), code));
    EXPECT_TRUE(FLog.Lines().empty());

    ::SetEvent(release.get());
    EXPECT_TRUE(FService.WaitForState(SERVICE_RUNNING));
}

TEST(ServiceStartWatch, WaitsWhileTheCheckpointRisesWithinTheWaitHint) {
    struct TLook {
        DWORD State;
        DWORD CheckPoint;
        DWORD WaitHint;
        unsigned long long Now;
        TServiceStartVerdict Verdict;
        DWORD Pause; // after a wait
    };
    const struct {
        const char* Name;
        std::vector<TLook> Looks;
    } cases[] = {
        {"runs at once", {{SERVICE_RUNNING, 0, 0, 0, sswRunning, 0}}},
        {"stops instead",
         {{SERVICE_START_PENDING, 1, 3000, 0, sswWait, 300},
          {SERVICE_STOPPED, 0, 0, 400, sswStopped, 0}}},
        {"progress within each hint, then runs",
         {{SERVICE_START_PENDING, 1, 3000, 0, sswWait, 300},
          {SERVICE_START_PENDING, 1, 3000, 2900, sswWait, 300},
          {SERVICE_START_PENDING, 2, 20000, 5000, sswWait, 1000},
          {SERVICE_START_PENDING, 2, 20000, 24000, sswWait, 1000},
          {SERVICE_RUNNING, 0, 0, 25000, sswRunning, 0}}},
        {"no progress within the hint",
         {{SERVICE_START_PENDING, 1, 3000, 0, sswWait, 300},
          {SERVICE_START_PENDING, 1, 3000, 3001, sswStalled, 0}}},
        {"a hint of 0 counts as the minimum, looks stay 50 ms apart at least",
         {{SERVICE_START_PENDING, 0, 0, 0, sswWait, 100},
          {SERVICE_START_PENDING, 0, 0, 1001, sswStalled, 0}}},
        {"a short hint", {{SERVICE_START_PENDING, 0, 1200, 0, sswWait, 120}}},
        {"steady progress, but the cap is reached",
         {{SERVICE_START_PENDING, 1, 60000, 0, sswWait, 1000},
          {SERVICE_START_PENDING, 2, 60000, 29999, sswWait, 1000},
          {SERVICE_START_PENDING, 3, 60000, ServiceStartCap, sswTooLong, 0}}},
        {"a service that stops while starting is waited for like a pending one",
         {{SERVICE_STOP_PENDING, 1, 2000, 0, sswWait, 200},
          {SERVICE_STOPPED, 0, 0, 100, sswStopped, 0}}},
    };
    for (const auto& c : cases) {
        TServiceStartWatch watch(0);
        for (size_t i = 0; i < c.Looks.size(); ++i) {
            const TLook& look = c.Looks[i];
            EXPECT_EQ(watch.Look(look.State, look.CheckPoint, look.WaitHint, look.Now),
                      look.Verdict)
                << c.Name << ", look " << i;
            if (look.Verdict == sswWait) {
                EXPECT_EQ(watch.Pause(), look.Pause) << c.Name << ", look " << i;
            }
        }
    }
}

TEST(ServiceStartAction, WhatEachStateLeadsTo) {
    const std::pair<DWORD, TServiceStartAction> cases[] = {
        {SERVICE_STOPPED, ssaRequestStart},
        {SERVICE_START_PENDING, ssaRefuse},
        {SERVICE_STOP_PENDING, ssaRequestStart},
        {SERVICE_RUNNING, ssaAlreadyRunning},
        {SERVICE_CONTINUE_PENDING, ssaRefuse},
        {SERVICE_PAUSE_PENDING, ssaRequestStart},
        {SERVICE_PAUSED, ssaRequestStart},
        {0, ssaRefuse},
        {8, ssaRefuse},
        {0xFFFFFFFF, ssaRefuse},
    };
    for (const auto& [state, action] : cases)
        EXPECT_EQ(ServiceStartAction(state), action) << state;
}

TEST(ServiceImagePath, ABareNameLiesBesideTheProgramAndEveryPathIsQuoted) {
    EXPECT_EQ(ServiceImagePath(L"QVFSSvc.exe", L"C:\\Tools\\"), L"\"C:\\Tools\\QVFSSvc.exe\"");
    EXPECT_EQ(ServiceImagePath(L"D:\\x\\QVFSSvc.exe", L"C:\\Tools\\"), L"\"D:\\x\\QVFSSvc.exe\"");
    EXPECT_EQ(ServiceImagePath(L"My Service.exe", L"C:\\Program Files\\Vexlo\\"),
              L"\"C:\\Program Files\\Vexlo\\My Service.exe\"");
}

TEST_F(ServicePrimitives, InstallCreatesThenReconfiguresAndRewritesTheDescription) {
    TServiceInfo9 info{L"teststatesvc.exe", FService.Name(), L"Derodo Test Service",
                       L"First description.", 0};
    DWORD code = Untouched;
    ASSERT_TRUE(vxnServiceInstall(info, code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FService.ReadText(L"ImagePath"), L"\"" + ProgramFolder() + L"teststatesvc.exe\"");
    EXPECT_EQ(FService.ReadText(L"DisplayName"), L"Derodo Test Service");
    EXPECT_EQ(FService.ReadText(L"Description"), L"First description.");
    EXPECT_EQ(FService.ReadNumber(L"Type"), static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(FService.ReadNumber(L"Start"), static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(FService.ReadNumber(L"ErrorControl"), static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    const std::wstring account = FService.ReadText(L"ObjectName");

    // The image path names a program that runs as this service.
    EXPECT_TRUE(vxnServiceStart(info, code));
    ASSERT_TRUE(FService.WaitForState(SERVICE_RUNNING));
    ASSERT_TRUE(FService.Stop());

    // Over an existing service: type, start, error control and image path
    // are replaced, display name and account kept, the description rewritten.
    ASSERT_TRUE(FService.Reconfigure(SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE));
    code = Untouched;
    ASSERT_TRUE(
        vxnServiceInstall(L"D:\\x\\QVFSSvc.exe", FService.Name(), L"Another Name", L"", code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FService.ReadText(L"ImagePath"), L"\"D:\\x\\QVFSSvc.exe\"");
    EXPECT_EQ(FService.ReadText(L"DisplayName"), L"Derodo Test Service");
    EXPECT_EQ(FService.ReadText(L"Description"), L"");
    EXPECT_EQ(FService.ReadText(L"ObjectName"), account);
    EXPECT_EQ(FService.ReadNumber(L"Start"), static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(FService.ReadNumber(L"ErrorControl"), static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_TRUE(FLog.Lines().empty());
}

TEST_F(ServicePrimitives, InstallWritesTheDescriptionAlsoWhenCreatingOrReconfiguringFails) {
    // Create: the display name is taken by another service (1078), while a
    // key of the service's own name is left over in the registry.
    ASSERT_TRUE(FService.Create(SiblingCommandLine(L"teststatesvc.exe")));
    const std::wstring leftOver = UniqueServiceName(L"DerodoLeftOver");
    TRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ServiceKeyPath(leftOver).c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, key.addressof(), nullptr),
              ERROR_SUCCESS);
    DWORD code = Untouched;
    EXPECT_FALSE(
        vxnServiceInstall(L"teststatesvc.exe", leftOver, FService.Name(), L"Left over", code));
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_DUPLICATE_SERVICE_NAME));
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(
        ::RegGetValueW(key.get(), nullptr, L"Description", RRF_RT_REG_SZ, nullptr, text, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), L"Left over");
    key.reset();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ServiceKeyPath(leftOver).c_str());

    // Reconfigure: deleted while it runs, the service stays, marked for
    // deletion, and refuses every change of its configuration (1072).
    ASSERT_TRUE(FService.Start());
    ASSERT_TRUE(FService.WaitForState(SERVICE_RUNNING));
    {
        const TServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        const TServiceHandle service(
            ::OpenServiceW(manager.get(), FService.Name().c_str(), DELETE));
        ASSERT_TRUE(::DeleteService(service.get()));
    }
    FLog.Clear();
    code = Untouched;
    EXPECT_FALSE(
        vxnServiceInstall(L"teststatesvc.exe", FService.Name(), L"Name", L"Kept up to date", code));
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(FService.ReadText(L"Description"), L"Kept up to date");
    EXPECT_EQ(FLog.Errors(), (std::vector<TLoggedError>{{L"vxnServiceInstall.ChangeServiceConfig",
                                                         ERROR_SERVICE_MARKED_FOR_DELETE}}));
}

TEST_F(ServicePrimitives, InstallWritesNoDescriptionOutsideAServiceKeyOfItsOwn) {
    ASSERT_TRUE(FService.Create(SiblingCommandLine(L"teststatesvc.exe")));
    TRegKey parameters;
    ASSERT_EQ(::RegCreateKeyExW(
                  HKEY_LOCAL_MACHINE, (ServiceKeyPath(FService.Name()) + L"\\Parameters").c_str(),
                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, parameters.addressof(), nullptr),
              ERROR_SUCCESS);
    for (const std::wstring& name : {std::wstring(), FService.Name() + L"\\Parameters"}) {
        DWORD code = Untouched;
        EXPECT_FALSE(vxnServiceInstall(L"teststatesvc.exe", name, L"Refused", L"Misplaced", code));
        EXPECT_NE(code, 0u);
    }
    const auto hasDescription = [](const std::wstring& APath) {
        return ::RegGetValueW(HKEY_LOCAL_MACHINE, APath.c_str(), L"Description", RRF_RT_ANY,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    };
    EXPECT_FALSE(hasDescription(L"SYSTEM\\CurrentControlSet\\services"));
    EXPECT_FALSE(hasDescription(ServiceKeyPath(FService.Name()) + L"\\Parameters"));
}

TEST_F(ServicePrimitives, TheInstallTestSwitchDeniesEveryServiceAndLeavesTheCode) {
    ASSERT_TRUE(FService.Create(SiblingCommandLine(L"teststatesvc.exe")));
    const std::pair<const wchar_t*, DWORD> cases[] = {
        // exit code: 1 answer yes, 2 code untouched, 4 nothing logged
        {L"", 1 | 2 | 4},
        {L"/serviceinstalltest", 2 | 4},
        {L"-serviceinstalltest", 2 | 4},
        {L"/SERVICEINSTALLTEST", 2 | 4},
        {L"-ServiceInstallTest", 2 | 4},
        {L"other /serviceinstalltest", 2 | 4},
        {L"--serviceinstalltest", 1 | 2 | 4},
        {L"serviceinstalltest", 1 | 2 | 4},
        {L"/serviceinstalltests", 1 | 2 | 4},
    };
    for (const auto& [arguments, expected] : cases) {
        std::wstring line = SiblingCommandLine(L"serviceswitchprobe.exe", FService.Name());
        if (*arguments)
            line += std::wstring(L" ") + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &process));
        TKernelHandle processHandle(process.hProcess);
        TKernelHandle threadHandle(process.hThread);
        ASSERT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        DWORD exitCode = 0;
        ::GetExitCodeProcess(process.hProcess, &exitCode);
        EXPECT_EQ(exitCode, expected) << arguments;
    }
}

TEST(ServicesStartUp, RegistersTheEmptyGroupSystemServiceRelated) {
    CommandLineParametersStartUp();
    ServicesStartUp();
    const TCommandLineParameters& registry = CommandLineParameters();
    ASSERT_EQ(registry.Count(), 3u);
    const TCLPGroup& group = registry.Items(2);
    EXPECT_EQ(group.GroupName(), L"System Service related");
    EXPECT_EQ(group.Description(), L"");
    EXPECT_EQ(group.Necessity(), gnAllOptional);
    EXPECT_EQ(group.Parameters().Count(), 0u);
    CommandLineParametersShutDown();
}

} // namespace
