// Services registered by the tests, against the real service control manager
// under Wine. Every service a test registers is stopped and deleted when its
// owner goes, so no test leaves one behind for the next.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

using namespace std::chrono_literals;

// A name of APrefix and the process id: tests running side by side never share a service.
std::wstring UniqueServiceName(const std::wstring& APrefix);
// A loopback port of its own for this process.
unsigned short UniqueTestPort();

// HKLM\SYSTEM\CurrentControlSet\services\<name>
std::wstring ServiceKeyPath(const std::wstring& AServiceName);

class TTestService {
public:
    // Takes charge of the service AName, whoever registers it.
    explicit TTestService(std::wstring AName);
    TTestService(const TTestService&) = delete;
    TTestService& operator=(const TTestService&) = delete;
    // Stops the service if it runs and deletes it.
    ~TTestService();

    const std::wstring& Name() const { return FName; }

    // Registers the service (own process, demand start) with ACommandLine as its image path.
    bool Create(const std::wstring& ACommandLine);
    bool Start();
    // Changes the start type and error control, nothing else.
    bool Reconfigure(DWORD AStartType, DWORD AErrorControl);
    // Sends STOP and waits until the service has stopped.
    bool Stop(std::chrono::milliseconds ATimeout = 20s);
    // The service's status; false when it cannot be queried.
    bool Query(SERVICE_STATUS& AStatus) const;
    // Waits until the service reports AState; false on time-out.
    bool WaitForState(DWORD AState, std::chrono::milliseconds ATimeout = 20s) const;
    // Sets a REG_DWORD value under the service's key.
    bool SetValue(const std::wstring& AValueName, DWORD AValue) const;
    // Sets a REG_SZ value under the service's key.
    bool SetText(const std::wstring& AValueName, const std::wstring& AText) const;
    // Reads a REG_SZ or REG_EXPAND_SZ value under the service's key.
    std::wstring ReadText(const std::wstring& AValueName) const;
    DWORD ReadNumber(const std::wstring& AValueName) const;

    // Deletes the service now (stopping it first); true when it is gone.
    bool Delete();

private:
    std::wstring FName;
};

// A command line of the program AName beside the test, quoted, with AArguments.
std::wstring SiblingCommandLine(const std::wstring& AName, const std::wstring& AArguments = L"");
