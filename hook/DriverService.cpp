#include "hook/DriverService.h"

#include <optional>
#include <string>
#include <vector>

#include "hook/InjectionRules.h"
#include "platform/Answer.h"
#include "platform/Deadline.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"

namespace {

// How long a stop may take before it counts as failed.
constexpr DWORD StopWaitTime = 15000;

TServiceHandle OpenDriver(LPCWSTR ADriverName, DWORD AAccess) {
    const TServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return {};
    return TServiceHandle(::OpenServiceW(manager.get(), ADriverName, AAccess));
}

// The full path of the driver file for the running Windows, which must exist:
// the service control manager takes any path and only the start would fail.
bool DriverImage(LPCWSTR ADriverFile32, LPCWSTR ADriverFile64, std::wstring& AImage) {
    if (!ADriverFile32 || !ADriverFile64) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SYSTEM_INFO system{};
    ::GetNativeSystemInfo(&system);
    LPCWSTR file =
        DriverFileForArchitecture(system.wProcessorArchitecture, ADriverFile32, ADriverFile64);
    if (!FullPathName(file, AImage))
        return false;
    const DWORD attributes = ::GetFileAttributesW(AImage.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return true;
}

// Creates the registration or brings an existing one to this configuration.
bool RegisterDriver(LPCWSTR ADriverName, const std::wstring& AImage, DWORD AStartType,
                    TServiceHandle& AService) {
    const TServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return false;
    AService.reset(::CreateServiceW(manager.get(), ADriverName, ADriverName, SERVICE_ALL_ACCESS,
                                    SERVICE_KERNEL_DRIVER, AStartType, SERVICE_ERROR_NORMAL,
                                    AImage.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (AService)
        return true;
    if (::GetLastError() != ERROR_SERVICE_EXISTS)
        return false;
    AService.reset(::OpenServiceW(manager.get(), ADriverName, SERVICE_ALL_ACCESS));
    return AService && ::ChangeServiceConfigW(AService.get(), SERVICE_KERNEL_DRIVER, AStartType,
                                              SERVICE_ERROR_NORMAL, AImage.c_str(), nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool StartRegisteredDriver(SC_HANDLE AService) {
    if (::StartServiceW(AService, 0, nullptr))
        return true;
    if (::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

// A registration made for one load only: created to start the driver once
// and deleted again, by then or on failure.
BOOL LoadUnregisteredDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64) {
    std::wstring image;
    if (!DriverImage(ADriverFile32, ADriverFile64, image))
        return FALSE;
    const TServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return FALSE;
    const TServiceHandle service(
        ::CreateServiceW(manager.get(), ADriverName, ADriverName, SERVICE_ALL_ACCESS,
                         SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        // Registered in the meantime by someone else: that registration stays.
        if (::GetLastError() == ERROR_SERVICE_EXISTS)
            return InjStartDriver(ADriverName);
        return FALSE;
    }
    if (!StartRegisteredDriver(service.get())) {
        const TLastErrorKeeper keeper;
        ::DeleteService(service.get());
        return FALSE;
    }
    // Deleting the registration of a running driver leaves it running: it is
    // removed when it stops, at the latest with the next restart.
    return ::DeleteService(service.get());
}

} // namespace

BOOL InjInstallDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64,
                      LPCWSTR ADescription) {
    std::wstring image;
    if (!DriverImage(ADriverFile32, ADriverFile64, image))
        return FALSE;
    TServiceHandle service;
    if (!RegisterDriver(ADriverName, image, SERVICE_SYSTEM_START, service))
        return FALSE;
    std::wstring description = ADescription ? ADescription : L"";
    SERVICE_DESCRIPTIONW info{description.data()};
    return ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &info);
}

BOOL InjLoadDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64) {
    // An existing registration is someone's installation (or an earlier
    // load): it is started as it stands and never changed or deleted.
    const TServiceHandle existing = OpenDriver(ADriverName, SERVICE_START);
    if (existing)
        return StartRegisteredDriver(existing.get());
    if (::GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
        return FALSE;
    return LoadUnregisteredDriver(ADriverName, ADriverFile32, ADriverFile64);
}

BOOL InjUninstallDriver(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, DELETE);
    return service && ::DeleteService(service.get());
}

BOOL InjStartDriver(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_START);
    return service && StartRegisteredDriver(service.get());
}

BOOL InjStopDriver(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service)
        return FALSE;
    SERVICE_STATUS status{};
    if (!::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        if (::GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
            return FALSE;
        ::SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    const TDeadline deadline(StopWaitTime);
    while (status.dwCurrentState != SERVICE_STOPPED) {
        if (deadline.Remaining() == 0) {
            ::SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return FALSE;
        }
        ::Sleep(20);
        if (!::QueryServiceStatus(service.get(), &status))
            return FALSE;
    }
    return TRUE;
}

BOOL InjIsDriverInstalled(LPCWSTR ADriverName) {
    // A deleted registration stays visible while its driver runs; only a
    // change of its configuration tells it apart, failing with
    // ERROR_SERVICE_MARKED_FOR_DELETE. This change changes nothing.
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_CHANGE_CONFIG);
    if (service)
        return ::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                      SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
    // A name that is not registered answers ERROR_SERVICE_DOES_NOT_EXIST
    // whatever the rights asked for; only a registration that is there
    // refuses the access.
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return FALSE;
    return InjIsDriverRegistrationStanding(ADriverName);
}

BOOL InjIsDriverRegistrationStanding(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_QUERY_CONFIG);
    if (!service)
        return FALSE;
    DWORD size = 0;
    if (!::QueryServiceConfigW(service.get(), nullptr, 0, &size) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return FALSE;
    std::vector<QUERY_SERVICE_CONFIGW> configuration(size / sizeof(QUERY_SERVICE_CONFIGW) + 1);
    if (!::QueryServiceConfigW(
            service.get(), configuration.data(),
            static_cast<DWORD>(configuration.size() * sizeof(QUERY_SERVICE_CONFIGW)), &size))
        return FALSE;
    // The service control manager's mark, which it reads at the next start
    // of the system to remove the registration. Wine's manager neither
    // disables what it marks nor writes the mark, so a marking is invisible
    // here under Wine; but Wine grants every caller the change right, and
    // never asks this.
    std::optional<std::uint32_t> deleteFlag;
    DWORD flag = 0;
    DWORD flagSize = sizeof(flag);
    const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + ADriverName;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DeleteFlag", RRF_RT_REG_DWORD, nullptr,
                       &flag, &flagSize) == ERROR_SUCCESS)
        deleteFlag = flag;
    const TAnswer answer = RegistrationAnswer(configuration[0].dwStartType, deleteFlag);
    if (answer.IsYes())
        return TRUE;
    ::SetLastError(answer.IsKnown() ? ERROR_SERVICE_MARKED_FOR_DELETE : answer.Error);
    return FALSE;
}

bool DriverRunsForInjection(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (!service || !::QueryServiceStatus(service.get(), &status))
        return false;
    if (status.dwCurrentState != SERVICE_RUNNING) {
        ::SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return false;
    }
    return true;
}

BOOL InjIsDriverRunning(LPCWSTR ADriverName) {
    return DriverRunsForInjection(ADriverName);
}
