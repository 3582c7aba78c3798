// Threads started in other processes, all first and then waited for
// together under one time-out, so that a process whose threads cannot run
// costs only itself.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "hook/InjectionOutcomes.h"
#include "platform/Handles.h"

// Target selector: the processes of every session the caller can open. Any
// other value selects the processes of the session with that number.
inline constexpr DWORD InjAllSessions = 0xFFFFFFFF;

// What a visit started in a process: the thread (none when there was nothing
// to do there or it could not be started), the memory it reads and how it
// came about.
struct TRemoteThread {
    TKernelHandle Thread;
    TRemoteMemory Memory;
    TVisitStart Start = vsNotStarted;
};

// Starts the routine in the process with AArgument as its one argument.
TKernelHandle StartRemoteThread(HANDLE AProcess, LPTHREAD_START_ROUTINE ARoutine, LPVOID AArgument);

// The work of one injection or uninjection, process by process.
struct TRemoteWork {
    TInjectionDirection Direction = idLoad;
    std::function<TRemoteThread(HANDLE AProcess)> Start;
    // Loads only: whether the library is in the process, asked when its
    // thread answered 0.
    std::function<bool(HANDLE AProcess)> Loaded;
};

// Opens every other process of the target selector that the masks admit,
// checks its executable's name and session once more on the opened process
// (the id may have been reused since the list was taken), passes over a
// critical or frozen one and hands the others to the work's Start; then
// waits for all threads started together, until ATimeout milliseconds from
// the call's start have passed. A thread still running then is left its
// memory. Answers the outcome of every admitted process.
TInjectionCounts RunInOtherProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                     DWORD ATimeout, const TRemoteWork& AWork);
