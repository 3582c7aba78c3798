// Our injection layer: the injection driver runs as a kernel-driver service
// named by the driver name, and the hook library is placed into processes
// from user mode (LoadLibraryW in the calling process, remote threads in the
// others) while that driver runs.
//
// Every operation answers nonzero for success (for the questions: yes) and
// zero for failure (no). A failed operation leaves its cause as the thread's
// last error; the callers rely on that for install and start.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

// Target selector: the processes of every session the caller can open. Any
// other value selects the processes of the session with that number.
inline constexpr DWORD InjAllSessions = 0xFFFFFFFF;

// Registers the driver file that matches the running Windows (32 or 64 bit)
// as a kernel driver started with the system, or brings an existing
// registration to that configuration, and writes its description.
BOOL InjInstallDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64,
                      LPCWSTR ADescription);
// Runs the driver until the next restart without leaving it installed:
// registers it, starts it and deletes the registration again.
BOOL InjLoadDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64);
// Deletes the registration. A running driver keeps running until it is
// stopped or the system restarts.
BOOL InjUninstallDriver(LPCWSTR ADriverName);
// Starting a running driver succeeds.
BOOL InjStartDriver(LPCWSTR ADriverName);
// Stops the driver and waits, bounded, until it has stopped. Stopping a
// stopped driver succeeds.
BOOL InjStopDriver(LPCWSTR ADriverName);
// Registered and not marked for deletion.
BOOL InjIsDriverInstalled(LPCWSTR ADriverName);
BOOL InjIsDriverRunning(LPCWSTR ADriverName);

// Loads the library into the calling process and, when AOtherProcesses is
// true, best effort within ATimeout milliseconds, into every other process
// of the target selector that AIncludeMask admits (null or empty: all) and
// AExcludeMask does not name. Masks are "|"-separated executable names,
// compared case-insensitively. AReserved must be null. Fails while the
// driver is not running and when the library does not load into the calling
// process. Each process gets the library of its own bitness: a file named
// "...32.dll" stands for its pair "...64.dll" in the same folder and the
// other way round.
BOOL InjInjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                      BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                      const void* AReserved, DWORD ATimeout);
// The reverse: drops the reference the injection holds in each process.
BOOL InjUninjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                        BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                        const void* AReserved, DWORD ATimeout);
// Uninjects every library injected through this driver since the system
// started, from every process the caller can open.
BOOL InjUninjectAllLibraries(LPCWSTR ADriverName, const void* AReserved, DWORD ATimeout);

// A module of the calling process, found by its file name.
class TModuleLookup {
public:
    TModuleLookup(std::wstring AFileName, HMODULE AModule)
        : FFileName(std::move(AFileName)), FModule(AModule) {}
    HMODULE Module() const { return FModule; }
    // True while the module found is loaded under that name.
    bool IsStillValid() const;

private:
    std::wstring FFileName;
    HMODULE FModule;
};

// The module of that file name (no folder; 8-bit ANSI text) in the calling
// process, wherever it was loaded from. Looking leaves the thread's last
// error as it was.
TModuleLookup InjFindModule(LPCSTR AFileName);

// The rules behind the operations, apart from the platform.

// The driver file for the processor architecture of the running Windows
// (wProcessorArchitecture of GetNativeSystemInfo).
LPCWSTR DriverFileForArchitecture(WORD AArchitecture, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64);
// Whether a "|"-separated mask names the executable.
bool MaskNames(LPCWSTR AMask, const std::wstring& AExeName);
// Whether an injection with these masks reaches the executable.
bool ProcessAdmitted(const std::wstring& AExeName, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask);
// The library of a pair "...32.dll"/"...64.dll" for a process of that bitness;
// any other file stands for itself.
std::wstring LibraryForBitness(const std::wstring& ALibraryFile, bool A64Bit);
