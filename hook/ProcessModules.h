// The modules of other processes, read from their memory: which library of
// the pair a process can load, whether a module is loaded in it, and where a
// routine of its own kernel32 lies, also in a 32-bit (WOW64) process, whose
// kernel32 is not ours. Reading needs no thread inside the process, so a
// process whose loader is busy can still be looked at; the process handle
// needs no more than ReadAccess (ProcessAccess.h).
#pragma once

#include <windows.h>

#include <string>

#include "hook/InjectionRules.h"

// Which library of the pair the process can load. IsWow64Process2 where the
// system has it tells the machines apart (an x64 process emulated on ARM64
// from a native ARM64 one); without it, IsWow64Process and the native system
// information.
TProcessLibrary LibraryKindOf(HANDLE AProcess);

// The module of that file name among the process's modules of that kind
// (pl32: its 32-bit modules; otherwise its native ones). A process whose
// module list is not set up yet (right after its start) is asked again for
// a short bounded time.
HMODULE FindModuleIn(HANDLE AProcess, const std::wstring& AFileName, TProcessLibrary AKind);
// The same, telling a module that is not there from a list that could not be
// read (Listed false).
struct TModuleSearch {
    bool Listed = false;
    HMODULE Module = nullptr;
};
TModuleSearch SearchModuleIn(HANDLE AProcess, const std::wstring& AFileName, TProcessLibrary AKind);

// The address, in the process, of the kernel32 routine of that name for a
// process of that kind, forwarders followed: ours for a process of our own
// kind, otherwise read from the export table of the process's kernel32.
// Null when it cannot be found.
LPTHREAD_START_ROUTINE RemoteKernel32Routine(HANDLE AProcess, TProcessLibrary AKind,
                                             const char* AName);

// The kind of this process.
TProcessLibrary OwnLibraryKind();
