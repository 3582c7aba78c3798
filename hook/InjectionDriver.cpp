#include "hook/InjectionDriver.h"

#include <utility>

#include "diagnostics/DebugLogger.h"
#include "hook/InjectionRecord.h"
#include "hook/InjectionRules.h"
#include "hook/ProcessModules.h"
#include "platform/Deadline.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"

namespace {

BOOL Fail(DWORD AError) {
    ::SetLastError(AError);
    return FALSE;
}

bool InjectionArguments(LPCWSTR ADriverName, LPCWSTR ALibraryFile, const void* AReserved) {
    if (!ADriverName || !ALibraryFile || !*ALibraryFile || AReserved) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

std::wstring LibraryOfKind(const std::wstring& ALibraryFile, TProcessLibrary AKind) {
    return LibraryForBitness(ALibraryFile, AKind == pl64);
}

// Starts the routine in the process opened for the thread with that access,
// unless it cannot be found or the process not opened for it.
void StartThreadIn(TVisitedProcess& AProcess, DWORD AAccess, LPTHREAD_START_ROUTINE ARoutine,
                   LPVOID AArgument, TRemoteThread& AStarted) {
    const HANDLE process = ARoutine ? AProcess.ForThread(AAccess) : nullptr;
    if (process)
        AStarted.Thread = StartRemoteThread(process, ARoutine, AArgument);
    if (AStarted.Thread)
        AStarted.Start = vsStarted;
}

// Starts LoadLibraryW of the library of the process's kind, unless the
// process cannot load it or has it already.
TRemoteThread StartLoad(TVisitedProcess& AProcess, const std::wstring& ALibraryFile) {
    TRemoteThread started;
    const HANDLE reader = AProcess.Reader();
    const TProcessLibrary kind = LibraryKindOf(reader);
    if (kind == plNone) {
        started.Start = vsNoLibrary;
        return started;
    }
    const std::wstring library = LibraryOfKind(ALibraryFile, kind);
    const TModuleSearch search = SearchModuleIn(reader, ExtractFileName(library), kind);
    if (search.Module) {
        started.Start = vsNothingToDo;
        return started;
    }
    const LPTHREAD_START_ROUTINE loadLibrary = RemoteKernel32Routine(reader, kind, "LoadLibraryW");
    if (!loadLibrary)
        return started;
    const HANDLE process = AProcess.ForThread(LoadThreadAccess);
    if (!process)
        return started;
    const SIZE_T size = (library.size() + 1) * sizeof(wchar_t);
    started.Memory = TRemoteMemory(process, size);
    if (!started.Memory ||
        !::WriteProcessMemory(process, started.Memory.get(), library.c_str(), size, nullptr))
        return started;
    // The thread's exit code holds only the low half of a 64-bit module
    // handle: a zero is checked in the module list (LoadedAfterLoad).
    StartThreadIn(AProcess, LoadThreadAccess, loadLibrary, started.Memory.get(), started);
    return started;
}

bool LoadedAfterLoad(HANDLE AReader, const std::wstring& ALibraryFile) {
    const TProcessLibrary kind = LibraryKindOf(AReader);
    return kind != plNone &&
           FindModuleIn(AReader, ExtractFileName(LibraryOfKind(ALibraryFile, kind)), kind);
}

TRemoteThread StartFree(TVisitedProcess& AProcess, const std::wstring& ALibraryFile) {
    TRemoteThread started;
    const HANDLE reader = AProcess.Reader();
    const TProcessLibrary kind = LibraryKindOf(reader);
    if (kind == plNone) {
        started.Start = vsNoLibrary;
        return started;
    }
    // A list that cannot be read is no proof that the library is not there.
    const TModuleSearch search =
        SearchModuleIn(reader, ExtractFileName(LibraryOfKind(ALibraryFile, kind)), kind);
    if (!search.Listed)
        return started;
    if (!search.Module) {
        started.Start = vsNothingToDo;
        return started;
    }
    StartThreadIn(AProcess, FreeThreadAccess, RemoteKernel32Routine(reader, kind, "FreeLibrary"),
                  search.Module, started);
    return started;
}

// The last call's outcome in the other processes, for the thread that made it.
thread_local std::optional<TInjectionOutcome> LastOutcome;

void KeepOutcome(TInjectionDirection ADirection, const TInjectionCounts& ACounts) {
    LastOutcome = TInjectionOutcome{ADirection, ACounts};
}

// Every call leaves one line with the outcome of each admitted process.
BOOL Answer(const wchar_t* ARoutine, const std::wstring& ALibraryFile,
            TInjectionDirection ADirection, const TInjectionCounts& ACounts) {
    if (TDebugLogger* logger = DebugLogger())
        logger->LogMessage(InjectionCountsText(ARoutine, ALibraryFile, ADirection, ACounts),
                           dlvDefault);
    if (ACounts.Failed())
        return Fail(ERROR_TIMEOUT);
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace

TRemoteWork LibraryWork(TInjectionDirection ADirection, const std::wstring& ALibraryFile) {
    TRemoteWork work;
    work.Direction = ADirection;
    if (ADirection == idLoad) {
        work.Start = [ALibraryFile](TVisitedProcess& AProcess) {
            return StartLoad(AProcess, ALibraryFile);
        };
        work.Loaded = [ALibraryFile](HANDLE AReader) {
            return LoadedAfterLoad(AReader, ALibraryFile);
        };
    } else {
        work.Start = [ALibraryFile](TVisitedProcess& AProcess) {
            return StartFree(AProcess, ALibraryFile);
        };
    }
    return work;
}

BOOL InjInjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                      BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                      const void* AReserved, DWORD ATimeout) {
    if (!InjectionArguments(ADriverName, ALibraryFile, AReserved))
        return FALSE;
    if (!DriverRunsForInjection(ADriverName))
        return FALSE;
    std::wstring given;
    if (!FullPathName(ALibraryFile, given))
        return FALSE;
    const std::wstring own = LibraryOfKind(given, OwnLibraryKind());
    // The reference taken here is the injection: it is kept until uninjected.
    if (!FindModuleIn(::GetCurrentProcess(), ExtractFileName(own), OwnLibraryKind()) &&
        !::LoadLibraryW(own.c_str()))
        return FALSE;
    RecordInjection(ADriverName, given);
    TInjectionCounts counts;
    if (AOtherProcesses) {
        counts = RunInOtherProcesses(ATarget, AIncludeMask, AExcludeMask, ATimeout,
                                     LibraryWork(idLoad, given));
        KeepOutcome(idLoad, counts);
    }
    return Answer(L"InjInjectLibrary", given, idLoad, counts);
}

BOOL InjUninjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                        BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                        const void* AReserved, DWORD ATimeout) {
    if (!InjectionArguments(ADriverName, ALibraryFile, AReserved))
        return FALSE;
    std::wstring given;
    if (!FullPathName(ALibraryFile, given))
        return FALSE;
    const std::wstring own = ExtractFileName(LibraryOfKind(given, OwnLibraryKind()));
    if (HMODULE module = FindModuleIn(::GetCurrentProcess(), own, OwnLibraryKind())) {
        if (!::FreeLibrary(module))
            return FALSE;
    }
    ForgetInjection(ADriverName, given);
    TInjectionCounts counts;
    if (AOtherProcesses) {
        counts = RunInOtherProcesses(ATarget, AIncludeMask, AExcludeMask, ATimeout,
                                     LibraryWork(idFree, given));
        KeepOutcome(idFree, counts);
    }
    return Answer(L"InjUninjectLibrary", given, idFree, counts);
}

BOOL InjUninjectAllLibraries(LPCWSTR ADriverName, const void* AReserved, DWORD ATimeout) {
    if (!ADriverName || AReserved)
        return Fail(ERROR_INVALID_PARAMETER);
    const TDeadline deadline(ATimeout);
    DWORD firstError = ERROR_SUCCESS;
    bool failed = false;
    std::optional<TInjectionOutcome> all;
    for (const std::wstring& library : RecordedInjections(ADriverName)) {
        if (!InjUninjectLibrary(ADriverName, library.c_str(), InjAllSessions, TRUE, nullptr,
                                nullptr, nullptr, deadline.Remaining()) &&
            !failed) {
            failed = true;
            firstError = ::GetLastError();
        }
        if (const std::optional<TInjectionOutcome> one = InjTakeLastOutcome()) {
            if (!all)
                all = TInjectionOutcome{idFree, {}};
            all->Counts.Add(one->Counts);
        }
    }
    LastOutcome = all;
    if (failed)
        return Fail(firstError);
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

std::optional<TInjectionOutcome> InjTakeLastOutcome() {
    return std::exchange(LastOutcome, std::nullopt);
}

// The lookup is a question asked right after operations whose failure the
// caller may still want to read: it leaves the thread's last error alone.
bool TModuleLookup::IsStillValid() const {
    const TLastErrorKeeper keeper;
    return FModule && FindModuleIn(::GetCurrentProcess(), FFileName, OwnLibraryKind()) == FModule;
}

TModuleLookup InjFindModule(LPCSTR AFileName) {
    const TLastErrorKeeper keeper;
    std::wstring name = AFileName ? ExtractFileName(AnsiToWide(AFileName)) : std::wstring();
    HMODULE module = FindModuleIn(::GetCurrentProcess(), name, OwnLibraryKind());
    return TModuleLookup(std::move(name), module);
}
