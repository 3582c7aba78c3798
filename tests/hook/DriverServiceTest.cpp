// The driver's registration asked with no more than the right to read its
// configuration, as a caller without elevation asks: against the real
// service control manager and registry. Wine grants every caller the change
// right, so the question that takes it is only ever answered here.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "hook/DriverService.h"
#include "platform/Handles.h"
#include "tests/hook/HookTestSupport.h"

namespace {

void Disable(const wchar_t* AName) {
    const TServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const TServiceHandle service(::OpenServiceW(manager.get(), AName, SERVICE_CHANGE_CONFIG));
    ASSERT_TRUE(service);
    ASSERT_TRUE(::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                       SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr));
}

TEST(DriverService, WithoutTheChangeRightTheConfigurationTellsWhatItCan) {
    const TTestDriver driver(L"Rights");
    const wchar_t* name = driver.Name();
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InjIsDriverRegistrationStanding(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    ASSERT_TRUE(
        InjInstallDriver(name, TTestDriver::File32().c_str(), TTestDriver::File64().c_str(), L""));
    EXPECT_TRUE(InjIsDriverRegistrationStanding(name)) << "started with the system";

    // Disabled, the registration may have been marked for deletion, which
    // disables it, or merely disabled by an administrator.
    Disable(name);
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InjIsDriverRegistrationStanding(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(InjIsDriverInstalled(name)) << "with the change right, the change tells";

    // The mark Windows' service control manager writes when it marks a
    // registration for deletion (Wine's writes none), written as it does.
    const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name;
    const DWORD mark = 1;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DeleteFlag", REG_DWORD, &mark,
                                sizeof(mark)),
              ERROR_SUCCESS);
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InjIsDriverRegistrationStanding(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
}

} // namespace
