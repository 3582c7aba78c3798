// Threads started in other processes, a few processes at a time on workers
// of their own and all threads first, then waited for under one time-out, so
// that a process that is slow to look at, or whose threads cannot run, costs
// only itself.
#pragma once

#include <windows.h>

#include <functional>

#include "hook/InjectionOutcomes.h"
#include "hook/ProcessAccess.h"
#include "platform/Handles.h"

// Target selector: the processes of every session the caller can open. Any
// other value selects the processes of the session with that number.
inline constexpr DWORD InjAllSessions = 0xFFFFFFFF;

// Processes dealt with at the same time. The system serves each process's
// questions, reads and thread starts one after the other anyway (under Wine
// one server thread serves them all): beyond a few, more workers only wait.
inline constexpr size_t RemoteWorkers = 8;

// What a visit started in a process: the thread (none when there was nothing
// to do there or it could not be started), the memory it reads and how it
// came about.
struct TRemoteThread {
    TKernelHandle Thread;
    TRemoteMemory Memory;
    TVisitStart Start = vsNotStarted;
};

// One admitted process, opened step by step for what is done to it: to be
// asked (AskAccess), to read its module list (ReadAccess), and for a thread.
class TVisitedProcess {
public:
    TVisitedProcess(TProcessAccess& AAccess, DWORD AProcessId)
        : FAccess(&AAccess), FProcessId(AProcessId) {}
    // Opens it to be asked; false when refused.
    bool OpenToAsk() { return Open(AskAccess, FAsked); }
    // Opens it to read its modules; false when refused.
    bool OpenToRead() { return Open(ReadAccess, FReader); }
    HANDLE Asked() const { return FAsked.get(); }
    HANDLE Reader() const { return FReader.get(); }
    // Opens it for a thread with AAccess (once); null when that is refused.
    HANDLE ForThread(DWORD AAccess) {
        if (!FThreadHandle)
            Open(AAccess, FThreadHandle);
        return FThreadHandle.get();
    }
    // Whether one of the opens was refused.
    bool Refused() const { return FRefused; }

private:
    bool Open(DWORD AAccess, TKernelHandle& AHandle) {
        AHandle = FAccess->Open(AAccess, FProcessId);
        FRefused = FRefused || !AHandle;
        return static_cast<bool>(AHandle);
    }

    TProcessAccess* FAccess;
    DWORD FProcessId;
    TKernelHandle FAsked;
    TKernelHandle FReader;
    TKernelHandle FThreadHandle;
    bool FRefused = false;
};

// Starts the routine in the process with AArgument as its one argument.
TKernelHandle StartRemoteThread(HANDLE AProcess, LPTHREAD_START_ROUTINE ARoutine, LPVOID AArgument);

// The work of one injection or uninjection, process by process. Called on
// the workers, several processes at a time.
struct TRemoteWork {
    TInjectionDirection Direction = idLoad;
    // Decides with the process opened to read and starts the thread, opening
    // the process for it (ForThread) only when one is to be started.
    std::function<TRemoteThread(TVisitedProcess& AProcess)> Start;
    // Loads only: whether the library is in the process, asked with the
    // process opened to read when its thread answered 0.
    std::function<bool(HANDLE AReader)> Loaded;
};

// Opens every other process of the target selector that the masks admit,
// checks its executable's name and session once more on the opened process
// (the id may have been reused since the list was taken), passes over a
// critical, protected or frozen one and hands the others to the work's
// Start; then waits for the threads started, until ATimeout milliseconds from
// the call's start have passed, classifies each process and cleans up after
// it. A process whose turn comes after that time is late without being
// opened; a thread still running then is left its memory. Answers the
// outcome of every admitted process.
TInjectionCounts RunInOtherProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                     DWORD ATimeout, const TRemoteWork& AWork,
                                     TProcessAccess& AAccess = SystemProcessAccess());
