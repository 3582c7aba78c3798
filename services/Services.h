// Module Taurix.Services: whether a service exists, whether it runs, start it,
// install it, over the Windows service control manager. Every routine answers
// with a Boolean; a failed system call leaves its code in AErrorCode and an
// error line "Routine.Call" in the debug log.
#pragma once

#include <windows.h>

#include <string>

// One service of the product.
struct TServiceInfo9 {
    std::wstring FileName; // a bare name (beside the running program) or a full path
    std::wstring ServiceName;
    std::wstring DisplayName;
    std::wstring Description;
    DWORD WebPort = 0; // port of its local web interface, 0 without one
};

// False at once, AErrorCode untouched, under the switch "serviceinstalltest".
// AErrorCode is written only when a call fails.
bool vxnServiceExists(const std::wstring& AServiceName, DWORD& AErrorCode);
bool vxnServiceExists(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode);

// Whether the service's current state is SERVICE_RUNNING. AErrorCode is
// written only when a call fails.
bool vxnServiceRunning(const std::wstring& AServiceName, DWORD& AErrorCode);
bool vxnServiceRunning(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode);

// True when the service runs: already, or after its start request, waited for
// as the service control manager's convention has it (TServiceStartWatch).
// A service that stops on the way fails with its exit code (1062 without
// one), one that stalls or takes longer than ServiceStartCap with 1053; both
// are logged as "vxnServiceStart.WaitForRunning". AErrorCode starts at 0.
bool vxnServiceStart(const std::wstring& AServiceName, DWORD& AErrorCode);
bool vxnServiceStart(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode);

// Creates the service, or reconfigures it when it exists (own process, auto
// start, normal error control, the image path), then writes its description.
// AErrorCode starts at 0.
bool vxnServiceInstall(const std::wstring& AFileName, const std::wstring& AServiceName,
                       const std::wstring& ADisplayName, const std::wstring& ADescription,
                       DWORD& AErrorCode);
bool vxnServiceInstall(const TServiceInfo9& AServiceInfo, DWORD& AErrorCode);

// Whether the service is running or on its way there (start or continue
// pending), so that a service of the suite will soon listen. Logs nothing.
bool ServiceComingUp(const std::wstring& AServiceName);

// The longest vxnServiceStart waits for a service to run, however steadily
// it reports progress.
inline constexpr DWORD ServiceStartCap = 30000;

// The wait for a service that was asked to start, by the service control
// manager's convention: while it is pending, it must raise its checkpoint
// within the wait hint it last gave (no less than MinimumWaitHint), and
// looks come a tenth of that hint apart (between 50 ms and 1 s). Times are
// milliseconds of one clock, given by the caller.
enum TServiceStartVerdict {
    sswRunning, // it runs
    sswWait,    // look again after Pause()
    sswStopped, // it stopped instead
    sswStalled, // no progress within its wait hint
    sswTooLong, // ServiceStartCap has passed
};
class TServiceStartWatch {
public:
    static constexpr DWORD MinimumWaitHint = 1000;
    explicit TServiceStartWatch(unsigned long long ANow) : FStart(ANow), FProgressAt(ANow) {}
    TServiceStartVerdict Look(DWORD AState, DWORD ACheckPoint, DWORD AWaitHint,
                              unsigned long long ANow);
    DWORD Pause() const;

private:
    unsigned long long FStart;
    unsigned long long FProgressAt;
    DWORD FCheckPoint = 0;
    DWORD FWaitHint = MinimumWaitHint;
    bool FLooked = false;
};

// What vxnServiceStart does in a service's current state.
enum TServiceStartAction {
    ssaRequestStart,   // stopped, stopping, pausing or paused
    ssaAlreadyRunning, // running: nothing to do
    ssaRefuse,         // starting, continuing or unknown: false with code 0
};
TServiceStartAction ServiceStartAction(DWORD ACurrentState);

// The command line the service manager starts: AFileName in double quotes when
// it holds a folder, else AProgramFolder + AFileName in double quotes.
std::wstring ServiceImagePath(const std::wstring& AFileName, const std::wstring& AProgramFolder);

// The service database every routine here opens: the active one (empty)
// unless a test names another, to meet a service control manager that cannot
// be opened (Wine ignores a machine name but refuses an unknown database).
void SetServiceDatabase(const std::wstring& ADatabaseName);

// The module's start-up: its empty group "System Service related" in the
// command-line parameter registry.
void ServicesStartUp();
