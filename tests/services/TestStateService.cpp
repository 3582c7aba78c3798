// teststatesvc: a service that does nothing but keep the states the tests ask
// for. Started with the argument "pending" it stays in SERVICE_START_PENDING
// until the event named "<service name>.release" is set, then runs.
#include <windows.h>

#include <string>

#include "platform/Handles.h"

namespace {

bool HoldStartPending = false;
SERVICE_STATUS_HANDLE StatusHandle = nullptr;
HANDLE StopEvent = nullptr;

void Report(DWORD AState, DWORD ACheckPoint = 0) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = AState;
    status.dwControlsAccepted = AState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = ACheckPoint;
    status.dwWaitHint = AState == SERVICE_START_PENDING ? 60000 : 0;
    ::SetServiceStatus(StatusHandle, &status);
}

DWORD WINAPI Control(DWORD AControl, DWORD, void*, void*) {
    if (AControl == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, 1);
        ::SetEvent(StopEvent);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD AArgc, LPWSTR* AArgv) {
    const std::wstring name = AArgc > 0 ? AArgv[0] : L"";
    StatusHandle = ::RegisterServiceCtrlHandlerExW(name.c_str(), Control, nullptr);
    if (!StatusHandle)
        return;
    {
        TKernelHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        StopEvent = stop.get();
        Report(SERVICE_START_PENDING, 1);
        if (HoldStartPending) {
            TKernelHandle release(::OpenEventW(SYNCHRONIZE, FALSE, (name + L".release").c_str()));
            if (release)
                ::WaitForSingleObject(release.get(), 60000);
        }
        Report(SERVICE_RUNNING);
        ::WaitForSingleObject(StopEvent, INFINITE);
    }
    Report(SERVICE_STOPPED);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    HoldStartPending = argc > 1 && std::wstring(argv[1]) == L"pending";
    SERVICE_TABLE_ENTRYW services[] = {{const_cast<wchar_t*>(L""), &ServiceMain},
                                       {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(services) ? 0 : static_cast<int>(::GetLastError());
}
