// How the injection layer reaches other processes: each is opened only for
// what will be done to it, step by step, and asked first whether it may be
// touched at all. A seam of our own, so that tests can record every open and
// play the kinds of process that Wine does not have.
#pragma once

#include <windows.h>

#include <winternl.h>

#include "platform/Handles.h"

// The rights of each step. Every process is first opened only to be asked
// (its executable's name, its standing, its bitness); one that may get a
// thread is opened to read its module list; one that gets a thread, to start
// it, and for a load to write the thread's argument. Opening a process with
// write or thread rights is what endpoint sensors watch for (on lsass it is
// how credentials are stolen), so processes passed over never see it.
inline constexpr DWORD AskAccess = PROCESS_QUERY_LIMITED_INFORMATION;
inline constexpr DWORD ReadAccess = AskAccess | PROCESS_VM_READ;
inline constexpr DWORD LoadThreadAccess =
    ReadAccess | PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_CREATE_THREAD;
// A free hands the thread a module handle: nothing is written.
inline constexpr DWORD FreeThreadAccess = ReadAccess | PROCESS_CREATE_THREAD;

// What keeps a process from getting a thread of ours.
struct TProcessStanding {
    // The system stops when it ends, so a fault of the hook there stops it.
    bool Critical = false;
    // A protected process (or a light one) runs only code signed for it and
    // is guarded by the system; it is passed over as a critical one is.
    bool Protected = false;
    // A suspended packaged app: no thread of it runs until it is thawed.
    bool Frozen = false;
};

class TProcessAccess {
public:
    virtual ~TProcessAccess() = default;
    // The process opened with exactly these rights; empty when refused, with
    // the cause as the thread's last error.
    virtual TKernelHandle Open(DWORD AAccess, DWORD AProcessId) = 0;
    // Asked on a handle with AskAccess.
    virtual TProcessStanding Standing(HANDLE AProcess) = 0;
};

// The system's: OpenProcess and the process information of the system.
TProcessAccess& SystemProcessAccess();

// NtQueryInformationProcess; false when it fails or the system does not know
// the class.
bool QueryProcessInformation(HANDLE AProcess, PROCESSINFOCLASS AClass, void* AInformation,
                             ULONG ASize);
