// Our injection layer: the injection driver runs as a kernel-driver service
// named by the driver name (DriverService.h), and the hook library is placed
// into processes from user mode (LoadLibraryW in the calling process, remote
// threads in the others) while that driver runs.
//
// Every operation answers nonzero for success (for the questions: yes) and
// zero for failure (no). A failed operation leaves its cause as the thread's
// last error.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "hook/DriverService.h"
#include "hook/RemoteThreads.h"

// Loads the library into the calling process and, when AOtherProcesses is
// true, into every other process of the target selector that AIncludeMask
// admits (null or empty: all) and AExcludeMask does not name. Masks are
// "|"-separated executable names, compared case-insensitively. AReserved must
// be null. Each process gets the library of its own bitness: a file named
// "...32.dll" stands for its pair "...64.dll" in the same folder and the
// other way round; 32-bit (WOW64) processes get the 32-bit one.
//
// Fails while the driver is not running and when the library does not load
// into the calling process. The other processes are dealt with a few at a
// time (RemoteThreads.h), each opened only for what is done to it: asked
// first, its module list read once, and opened for a thread only when it gets
// one. The remote threads are all started first and then waited for, ATimeout
// milliseconds from the call's start at most. Each admitted process ends with
// one outcome (InjectionOutcomes.h): loaded (or had it already), load refused
// (its thread answered 0 and the library is not there), late (its thread did
// not end in time, or the time was up before its turn), frozen or critical
// (also protected; passed over before any thread was made), not opened, no
// thread started, no library of the pair, or ended meanwhile. Only a late
// process that still runs makes the call fail: it answers zero with
// ERROR_TIMEOUT, although the library stays loaded, and recorded, where it
// got in (the calling process among them), and a late process may still get
// it once its thread runs. Every other outcome leaves the answer nonzero with
// the last error 0; each call writes one line to the debug log with the count
// of every outcome, so a refused, frozen or critical process is not silent.
BOOL InjInjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                      BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                      const void* AReserved, DWORD ATimeout);
// The reverse: drops the reference the injection holds in each process, with
// the same rules for bitness, masks, time-out, outcomes and answer ("refused"
// when FreeLibrary answered 0 there; a process whose module list cannot be
// read counts as "no thread started", never as done).
BOOL InjUninjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                        BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                        const void* AReserved, DWORD ATimeout);
// Uninjects every library injected through this driver since the system
// started, from every process the caller can open, all within the one
// time-out. When one of them fails the call answers zero and leaves the
// first failure's error; the others are still uninjected.
BOOL InjUninjectAllLibraries(LPCWSTR ADriverName, const void* AReserved, DWORD ATimeout);

// The work of an injection (idLoad) or an uninjection (idFree) of the library
// (its full path; each process gets the one of its bitness) in the other
// processes, as the two calls above hand it to RunInOtherProcesses.
TRemoteWork LibraryWork(TInjectionDirection ADirection, const std::wstring& ALibraryFile);

// What the last InjInjectLibrary or InjUninjectLibrary made on this thread
// did in the other processes (InjUninjectAllLibraries: all of its calls
// together), taken once: none when no such call ran since it was last taken.
// The answer of a call tells only late processes apart; a caller that shows
// its user how far an activation got reads it here.
std::optional<TInjectionOutcome> InjTakeLastOutcome();

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
