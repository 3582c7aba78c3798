// Threads started in other processes, all first and then waited for
// together under one time-out, so that a process whose threads cannot run
// costs only itself.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "Handles.h"

// Target selector: the processes of every session the caller can open. Any
// other value selects the processes of the session with that number.
inline constexpr DWORD InjAllSessions = 0xFFFFFFFF;

// What a visit started in a process: the thread (none when there was nothing
// to do there or it could not be started) and the memory it reads.
struct TRemoteThread {
    TKernelHandle Thread;
    TRemoteMemory Memory;
};

// Starts the routine in the process with AArgument as its one argument.
TKernelHandle StartRemoteThread(HANDLE AProcess, LPTHREAD_START_ROUTINE ARoutine, LPVOID AArgument);

// How the processes' threads ended.
struct TRemoteOutcome {
    // Admitted processes that were not dealt with in time: their thread still
    // runs (its memory is left to it), or the time was up before they came.
    size_t Late = 0;
};

// Opens every other process of the target selector that the masks admit,
// checks its executable's name and session once more on the opened process
// (the id may have been reused since the list was taken) and hands it to
// AStart; then waits for all threads started together, until ATimeout
// milliseconds from the call's start have passed.
TRemoteOutcome RunInOtherProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                   DWORD ATimeout,
                                   const std::function<TRemoteThread(HANDLE AProcess)>& AStart);
