#include "hook/RemoteThreads.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <string>

#include "hook/InjectionRules.h"
#include "platform/Deadline.h"
#include "platform/ProgramPath.h"

namespace {

constexpr DWORD RemoteAccess = PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                               PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ;

bool InSession(DWORD AProcessId, DWORD ATarget) {
    DWORD session = 0;
    return ATarget == InjAllSessions ||
           (::ProcessIdToSessionId(AProcessId, &session) && session == ATarget);
}

std::vector<DWORD> AdmittedProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask) {
    std::vector<DWORD> targets;
    const TFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return targets;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == self)
            continue;
        if (ProcessAdmitted(entry.szExeFile, AIncludeMask, AExcludeMask) &&
            InSession(entry.th32ProcessID, ATarget))
            targets.push_back(entry.th32ProcessID);
    }
    return targets;
}

// The opened process is the one admitted: while the handle is held, its id
// cannot pass to another process.
bool StillAdmitted(HANDLE AProcess, DWORD AProcessId, DWORD ATarget, LPCWSTR AIncludeMask,
                   LPCWSTR AExcludeMask) {
    std::wstring image(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(image.size());
        if (::QueryFullProcessImageNameW(AProcess, 0, image.data(), &length)) {
            image.resize(length);
            break;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || image.size() >= 32768)
            return false;
        image.resize(image.size() * 2);
    }
    return ProcessAdmitted(ExtractFileName(image), AIncludeMask, AExcludeMask) &&
           InSession(AProcessId, ATarget);
}

// The extended form of the basic information: the system tells it by the size
// it carries first. Systems that do not know it refuse the size.
struct TExtendedBasicInformation {
    SIZE_T Size;
    PROCESS_BASIC_INFORMATION Basic;
    ULONG Flags;
};
constexpr ULONG FrozenFlag = 1UL << 4;

using TNtQueryInformationProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// Looked up at run time: only ntdll exports it, and the program imports
// nothing but KnownDLLs.
bool QueryProcess(HANDLE AProcess, PROCESSINFOCLASS AClass, void* AInformation, ULONG ASize) {
    static const auto query = reinterpret_cast<TNtQueryInformationProcess>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    return query && query(AProcess, AClass, AInformation, ASize, nullptr) >= 0;
}

// A frozen process (a packaged app the system keeps suspended in the
// background) runs no thread, ours included, until it is thawed. Wine knows
// no extended basic information (STATUS_INFO_LENGTH_MISMATCH): not frozen.
bool IsFrozen(HANDLE AProcess) {
    TExtendedBasicInformation info{};
    info.Size = sizeof(info);
    return QueryProcess(AProcess, ProcessBasicInformation, &info, sizeof(info)) &&
           (info.Flags & FrozenFlag) != 0;
}

// The system stops when a critical process ends. Wine does not know the
// question (STATUS_INVALID_INFO_CLASS): not critical.
bool IsCritical(HANDLE AProcess) {
    ULONG critical = 0;
    return QueryProcess(AProcess, ProcessBreakOnTermination, &critical, sizeof(critical)) &&
           critical != 0;
}

bool HasEnded(HANDLE AProcess) {
    DWORD exitCode = 0;
    return ::GetExitCodeProcess(AProcess, &exitCode) && exitCode != STILL_ACTIVE;
}

// Waits for the threads in batches of what one wait can take, each batch
// with what is left of the time.
void WaitForAll(const std::vector<HANDLE>& AThreads, const TDeadline& ADeadline) {
    for (size_t start = 0; start < AThreads.size(); start += MAXIMUM_WAIT_OBJECTS) {
        const size_t count = AThreads.size() - start < MAXIMUM_WAIT_OBJECTS
                                 ? AThreads.size() - start
                                 : MAXIMUM_WAIT_OBJECTS;
        ::WaitForMultipleObjects(static_cast<DWORD>(count), AThreads.data() + start, TRUE,
                                 ADeadline.Remaining());
    }
}

} // namespace

TKernelHandle StartRemoteThread(HANDLE AProcess, LPTHREAD_START_ROUTINE ARoutine,
                                LPVOID AArgument) {
    if (!ARoutine)
        return {};
    return TKernelHandle(
        ::CreateRemoteThread(AProcess, nullptr, 0, ARoutine, AArgument, 0, nullptr));
}

TInjectionCounts RunInOtherProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                     DWORD ATimeout, const TRemoteWork& AWork) {
    const TDeadline deadline(ATimeout);
    TInjectionCounts counts;
    // The thread's memory goes before the handle of its process closes.
    struct TVisit {
        TKernelHandle Process;
        TRemoteThread Thread;
    };
    std::vector<TVisit> visits;
    for (DWORD processId : AdmittedProcesses(ATarget, AIncludeMask, AExcludeMask)) {
        TVisitFacts facts;
        facts.Reached = deadline.Remaining() > 0;
        TKernelHandle process;
        if (facts.Reached) {
            process.reset(
                ::OpenProcess(RemoteAccess | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
            // A process that has become another one since the list was taken
            // is none of this call's.
            if (process &&
                !StillAdmitted(process.get(), processId, ATarget, AIncludeMask, AExcludeMask))
                continue;
            facts.Opened = static_cast<bool>(process);
        }
        if (facts.Reached && facts.Opened) {
            facts.Critical = IsCritical(process.get());
            facts.Frozen = !facts.Critical && IsFrozen(process.get());
        }
        if (facts.Reached && facts.Opened && !facts.Critical && !facts.Frozen) {
            TRemoteThread thread = AWork.Start(process.get());
            if (thread.Thread) {
                visits.push_back(TVisit{std::move(process), std::move(thread)});
                continue;
            }
            facts.Start = thread.Start == vsStarted ? vsNotStarted : thread.Start;
        }
        counts.Add(ClassifyVisit(AWork.Direction, facts));
    }
    std::vector<HANDLE> threads;
    threads.reserve(visits.size());
    for (const TVisit& visit : visits)
        threads.push_back(visit.Thread.Thread.get());
    WaitForAll(threads, deadline);
    for (TVisit& visit : visits) {
        TVisitFacts facts;
        const HANDLE thread = visit.Thread.Thread.get();
        facts.ThreadEnded = ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        DWORD exitCode = 0;
        if (facts.ThreadEnded && ::GetExitCodeThread(thread, &exitCode))
            facts.ExitCode = exitCode;
        facts.ProcessEnded = HasEnded(visit.Process.get());
        if (facts.ThreadEnded && facts.ExitCode == 0 && !facts.ProcessEnded &&
            AWork.Direction == idLoad && AWork.Loaded)
            facts.LoadedAfterAll = AWork.Loaded(visit.Process.get());
        if (!facts.ThreadEnded)
            visit.Thread.Memory.Leave();
        counts.Add(ClassifyVisit(AWork.Direction, facts));
    }
    return counts;
}
