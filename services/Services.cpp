#include "services/Services.h"

#include "diagnostics/CommandLineParameters.h"
#include "diagnostics/DebugLogger.h"
#include "diagnostics/FailedCall.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"

namespace {

constexpr const wchar_t* InstallTestSwitch = L"serviceinstalltest";
constexpr const wchar_t* ServicesKey = L"SYSTEM\\CurrentControlSet\\services\\";

std::wstring& ServiceDatabase() {
    static std::wstring name;
    return name;
}

SC_HANDLE OpenManager(DWORD AAccess) {
    const std::wstring& database = ServiceDatabase();
    return ::OpenSCManagerW(nullptr, database.empty() ? nullptr : database.c_str(), AAccess);
}

// The manager and one service, both open, or nothing.
struct TOpenedService {
    TServiceHandle Manager;
    TServiceHandle Service;
};

// Opens the manager for reading and the service with AAccess; a failed open is
// reported under ARoutine + ".OpenSCManager" or ".OpenServiceW".
bool OpenServiceFor(const std::wstring& AServiceName, DWORD AAccess, const std::wstring& ARoutine,
                    TOpenedService& AOpened, DWORD& AErrorCode) {
    AOpened.Manager.reset(OpenManager(GENERIC_READ));
    if (!AOpened.Manager) {
        AErrorCode = LogFailedCall(ARoutine + L".OpenSCManager");
        return false;
    }
    AOpened.Service.reset(::OpenServiceW(AOpened.Manager.get(), AServiceName.c_str(), AAccess));
    if (!AOpened.Service) {
        AErrorCode = LogFailedCall(ARoutine + L".OpenServiceW");
        return false;
    }
    return true;
}

bool IsPlainServiceName(const std::wstring& AServiceName) {
    return !AServiceName.empty() && AServiceName.find(L'\\') == std::wstring::npos;
}

// Only the description's own bytes and its terminating zero are written, so
// an empty description writes an empty value.
bool WriteDescription(HKEY AKey, const std::wstring& ADescription) {
    const auto size = static_cast<DWORD>((ADescription.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(AKey, L"Description", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(ADescription.c_str()),
                            size) == ERROR_SUCCESS;
}

// Waits until the started service runs; false with the reason otherwise.
bool WaitUntilRunning(SC_HANDLE AService, DWORD& AErrorCode) {
    TServiceStartWatch watch(::GetTickCount64());
    for (;;) {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(AService, &status)) {
            AErrorCode = LogFailedCall(L"vxnServiceStart.QueryServiceStatus");
            return false;
        }
        switch (watch.Look(status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint,
                           ::GetTickCount64())) {
        case sswRunning:
            return true;
        case sswWait:
            ::Sleep(watch.Pause());
            continue;
        case sswStopped:
            AErrorCode = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
                             ? status.dwServiceSpecificExitCode
                             : status.dwWin32ExitCode;
            if (AErrorCode == 0)
                AErrorCode = ERROR_SERVICE_NOT_ACTIVE;
            break;
        case sswStalled:
        case sswTooLong:
            AErrorCode = ERROR_SERVICE_REQUEST_TIMEOUT;
            break;
        }
        LogFailedCall(L"vxnServiceStart.WaitForRunning", AErrorCode);
        return false;
    }
}

} // namespace

TServiceStartVerdict TServiceStartWatch::Look(DWORD AState, DWORD ACheckPoint, DWORD AWaitHint,
                                              unsigned long long ANow) {
    if (AState == SERVICE_RUNNING)
        return sswRunning;
    if (AState == SERVICE_STOPPED)
        return sswStopped;
    if (!FLooked || ACheckPoint > FCheckPoint) {
        FLooked = true;
        FCheckPoint = ACheckPoint;
        FProgressAt = ANow;
        FWaitHint = AWaitHint > MinimumWaitHint ? AWaitHint : MinimumWaitHint;
    }
    if (ANow - FStart >= ServiceStartCap)
        return sswTooLong;
    if (ANow - FProgressAt > FWaitHint)
        return sswStalled;
    return sswWait;
}

DWORD TServiceStartWatch::Pause() const {
    const DWORD tenth = FWaitHint / 10;
    return tenth < 50 ? 50 : tenth > 1000 ? 1000 : tenth;
}

TServiceStartAction ServiceStartAction(DWORD ACurrentState) {
    switch (ACurrentState) {
    case SERVICE_STOPPED:
    case SERVICE_STOP_PENDING:
    case SERVICE_PAUSE_PENDING:
    case SERVICE_PAUSED:
        return ssaRequestStart;
    case SERVICE_RUNNING:
        return ssaAlreadyRunning;
    default:
        return ssaRefuse;
    }
}

std::wstring ServiceImagePath(const std::wstring& AFileName, const std::wstring& AProgramFolder) {
    if (AFileName.find(L'\\') != std::wstring::npos)
        return L"\"" + AFileName + L"\"";
    return L"\"" + AProgramFolder + AFileName + L"\"";
}

bool vxnServiceExists(const std::wstring& AServiceName, DWORD& AErrorCode) {
    if (FindCmdLineSwitch(InstallTestSwitch))
        return false;
    TOpenedService opened;
    return OpenServiceFor(AServiceName, SERVICE_QUERY_STATUS, L"vxnServiceExists", opened,
                          AErrorCode);
}

bool vxnServiceRunning(const std::wstring& AServiceName, DWORD& AErrorCode) {
    TOpenedService opened;
    if (!OpenServiceFor(AServiceName, SERVICE_QUERY_STATUS, L"vxnServiceRunning", opened,
                        AErrorCode))
        return false;
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(opened.Service.get(), &status)) {
        AErrorCode = LogFailedCall(L"vxnServiceRunning.QueryServiceStatus");
        return false;
    }
    return status.dwCurrentState == SERVICE_RUNNING;
}

bool vxnServiceStart(const std::wstring& AServiceName, DWORD& AErrorCode) {
    AErrorCode = 0;
    TOpenedService opened;
    if (!OpenServiceFor(AServiceName, SERVICE_QUERY_STATUS | SERVICE_START, L"vxnServiceStart",
                        opened, AErrorCode))
        return false;
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(opened.Service.get(), &status)) {
        AErrorCode = LogFailedCall(L"vxnServiceStart.QueryServiceStatus");
        return false;
    }
    switch (ServiceStartAction(status.dwCurrentState)) {
    case ssaRequestStart:
        if (::StartServiceW(opened.Service.get(), 0, nullptr))
            return WaitUntilRunning(opened.Service.get(), AErrorCode);
        AErrorCode = LogFailedCall(L"vxnServiceStart.StartServiceW");
        return false;
    case ssaAlreadyRunning:
        return true;
    case ssaRefuse:
    default:
        return false;
    }
}

bool ServiceComingUp(const std::wstring& AServiceName) {
    const TServiceHandle manager(OpenManager(GENERIC_READ));
    const TServiceHandle service(
        manager ? ::OpenServiceW(manager.get(), AServiceName.c_str(), SERVICE_QUERY_STATUS)
                : nullptr);
    SERVICE_STATUS status{};
    if (!service || !::QueryServiceStatus(service.get(), &status))
        return false;
    return status.dwCurrentState == SERVICE_RUNNING ||
           status.dwCurrentState == SERVICE_START_PENDING ||
           status.dwCurrentState == SERVICE_CONTINUE_PENDING;
}

bool vxnServiceInstall(const std::wstring& AFileName, const std::wstring& AServiceName,
                       const std::wstring& ADisplayName, const std::wstring& ADescription,
                       DWORD& AErrorCode) {
    AErrorCode = 0;
    TServiceHandle manager(OpenManager(GENERIC_READ | GENERIC_WRITE));
    if (!manager) {
        AErrorCode = LogFailedCall(L"vxnServiceInstall.OpenSCManager");
        return false;
    }
    const std::wstring imagePath = ServiceImagePath(AFileName, ProgramFolder());

    bool result = false;
    TServiceHandle service(::OpenServiceW(manager.get(), AServiceName.c_str(),
                                          SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS));
    if (service) {
        // Display name, account and the rest stay as they are.
        result =
            ::ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                   SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr) != FALSE;
        if (!result)
            AErrorCode = LogFailedCall(L"vxnServiceInstall.ChangeServiceConfig");
    } else {
        // No account: the service runs as the local system account.
        service.reset(::CreateServiceW(
            manager.get(), AServiceName.c_str(), ADisplayName.c_str(),
            GENERIC_READ | SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
            SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        result = static_cast<bool>(service);
        if (!result)
            AErrorCode = LogFailedCall(L"vxnServiceInstall.CreateServiceW");
    }

    // Also after a failed step above: a service that exists keeps its
    // description up to date. This write is neither logged nor coded. A name
    // that is empty or holds a "\" names no service key of its own: the write
    // would land in the key of all services or in another service's subkey.
    TRegKey key;
    if (IsPlainServiceName(AServiceName) &&
        ::RegOpenKeyW(HKEY_LOCAL_MACHINE, (ServicesKey + AServiceName).c_str(), key.addressof()) ==
            ERROR_SUCCESS) {
        const bool written = WriteDescription(key.get(), ADescription);
        if (result)
            result = written;
    }
    return result;
}

bool vxnServiceExists(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode) {
    return vxnServiceExists(AServiceInfo.ServiceName, AErrorCode);
}

bool vxnServiceRunning(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode) {
    return vxnServiceRunning(AServiceInfo.ServiceName, AErrorCode);
}

bool vxnServiceStart(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode) {
    return vxnServiceStart(AServiceInfo.ServiceName, AErrorCode);
}

bool vxnServiceInstall(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode) {
    return vxnServiceInstall(AServiceInfo.FileName, AServiceInfo.ServiceName,
                             AServiceInfo.DisplayName, AServiceInfo.Description, AErrorCode);
}

void SetServiceDatabase(const std::wstring& ADatabaseName) {
    ServiceDatabase() = ADatabaseName;
}

void ServicesStartUp() {
    TDebugUnitTrace trace(L"Taurix.Services", dlsUnitInitialization);
    TCLPGroup& group = CommandLineParameters().Add();
    group.SetGroupName(L"System Service related");
    group.SetDescription(L"");
    group.SetNecessity(gnAllOptional);
}
