#include "tests/services/ServiceTestSupport.h"

#include <thread>

#include "platform/Handles.h"
#include "platform/ProgramPath.h"

namespace {

TServiceHandle OpenManager() {
    return TServiceHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

TServiceHandle OpenTestService(const std::wstring& AName) {
    TServiceHandle manager = OpenManager();
    if (!manager)
        return {};
    return TServiceHandle(::OpenServiceW(manager.get(), AName.c_str(), SERVICE_ALL_ACCESS));
}

} // namespace

std::wstring UniqueServiceName(const std::wstring& APrefix) {
    return APrefix + std::to_wstring(::GetCurrentProcessId());
}

unsigned short UniqueTestPort() {
    return static_cast<unsigned short>(30000 + ::GetCurrentProcessId() % 20000);
}

std::wstring ServiceKeyPath(const std::wstring& AServiceName) {
    return L"SYSTEM\\CurrentControlSet\\services\\" + AServiceName;
}

TTestService::TTestService(std::wstring AName) : FName(std::move(AName)) {}

TTestService::~TTestService() {
    Delete();
}

bool TTestService::Create(const std::wstring& ACommandLine) {
    TServiceHandle manager = OpenManager();
    if (!manager)
        return false;
    TServiceHandle service(
        ::CreateServiceW(manager.get(), FName.c_str(), FName.c_str(), SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         ACommandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return static_cast<bool>(service);
}

bool TTestService::Start() {
    TServiceHandle service = OpenTestService(FName);
    return service && ::StartServiceW(service.get(), 0, nullptr);
}

bool TTestService::Reconfigure(DWORD AStartType, DWORD AErrorControl) {
    TServiceHandle service = OpenTestService(FName);
    return service &&
           ::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, AStartType, AErrorControl,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool TTestService::Stop(std::chrono::milliseconds ATimeout) {
    TServiceHandle service = OpenTestService(FName);
    if (!service)
        return false;
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service.get(), &status))
        return false;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    return WaitForState(SERVICE_STOPPED, ATimeout);
}

bool TTestService::Query(SERVICE_STATUS& AStatus) const {
    TServiceHandle service = OpenTestService(FName);
    return service && ::QueryServiceStatus(service.get(), &AStatus);
}

bool TTestService::WaitForState(DWORD AState, std::chrono::milliseconds ATimeout) const {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
        SERVICE_STATUS status{};
        if (Query(status) && status.dwCurrentState == AState)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
}

bool TTestService::SetValue(const std::wstring& AValueName, DWORD AValue) const {
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ServiceKeyPath(FName).c_str(), AValueName.c_str(),
                             REG_DWORD, &AValue, sizeof(AValue)) == ERROR_SUCCESS;
}

bool TTestService::SetText(const std::wstring& AValueName, const std::wstring& AText) const {
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ServiceKeyPath(FName).c_str(), AValueName.c_str(),
                             REG_SZ, AText.c_str(),
                             static_cast<DWORD>((AText.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

std::wstring TTestService::ReadText(const std::wstring& AValueName) const {
    wchar_t text[2048] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, ServiceKeyPath(FName).c_str(), AValueName.c_str(),
                       RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, text,
                       &size) != ERROR_SUCCESS)
        return L"<missing>";
    return text;
}

DWORD TTestService::ReadNumber(const std::wstring& AValueName) const {
    DWORD value = 0xFFFFFFFF;
    DWORD size = sizeof(value);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, ServiceKeyPath(FName).c_str(), AValueName.c_str(),
                   RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

bool TTestService::Delete() {
    TServiceHandle service = OpenTestService(FName);
    if (!service)
        return true;
    Stop();
    return ::DeleteService(service.get()) != FALSE;
}

std::wstring SiblingCommandLine(const std::wstring& AName, const std::wstring& AArguments) {
    std::wstring line = L"\"" + ProgramFolder() + AName + L"\"";
    if (!AArguments.empty())
        line += L" " + AArguments;
    return line;
}
