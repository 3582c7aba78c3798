#include "hook/RemoteThreads.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hook/InjectionRules.h"
#include "platform/Deadline.h"
#include "platform/ProgramPath.h"

namespace {

bool InSession(DWORD AProcessId, DWORD ATarget) {
    DWORD session = 0;
    return ATarget == InjAllSessions ||
           (::ProcessIdToSessionId(AProcessId, &session) && session == ATarget);
}

using TNtQuerySystemInformation = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);

constexpr NTSTATUS InfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

// The system's list of processes, as NtQuerySystemInformation fills it;
// empty when it cannot be had. Looked up at run time: only ntdll exports it.
// Under Wine the toolhelp snapshot of the same list costs ten times as much
// (at 300 processes 240-680 ms against 28-41 ms), for it asks the system
// again and again.
std::vector<BYTE> SystemProcessList() {
    static const auto query = reinterpret_cast<TNtQuerySystemInformation>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<BYTE> list(256 * 1024);
    // Processes may start between two tries: a few tries, each with room to spare.
    for (int attempt = 0; query && attempt < 4; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status =
            query(SystemProcessInformation, list.data(), static_cast<ULONG>(list.size()), &needed);
        if (status >= 0)
            return list;
        if (status != InfoLengthMismatch)
            break;
        list.resize(std::max<size_t>(needed, list.size() * 2) + 64 * 1024);
    }
    return {};
}

std::vector<DWORD> AdmittedProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask) {
    std::vector<DWORD> targets;
    const std::vector<BYTE> list = SystemProcessList();
    const DWORD self = ::GetCurrentProcessId();
    const auto start = reinterpret_cast<ULONG_PTR>(list.data());
    const ULONG_PTR end = start + list.size();
    for (size_t offset = 0; offset + sizeof(SYSTEM_PROCESS_INFORMATION) <= list.size();) {
        const auto* entry =
            reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(list.data() + offset);
        const auto processId =
            static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId));
        const auto name = reinterpret_cast<ULONG_PTR>(entry->ImageName.Buffer);
        const size_t nameBytes = entry->ImageName.Length;
        // The name lies in the list; the system's idle process has none.
        if (processId != 0 && processId != self && name >= start && name <= end &&
            nameBytes <= end - name) {
            const std::wstring image(entry->ImageName.Buffer, nameBytes / sizeof(wchar_t));
            if (ProcessAdmitted(ExtractFileName(image), AIncludeMask, AExcludeMask) &&
                (ATarget == InjAllSessions || entry->SessionId == ATarget))
                targets.push_back(processId);
        }
        if (entry->NextEntryOffset == 0)
            break;
        offset += entry->NextEntryOffset;
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

bool HasEnded(HANDLE AProcess) {
    DWORD exitCode = 0;
    return ::GetExitCodeProcess(AProcess, &exitCode) && exitCode != STILL_ACTIVE;
}

// Runs AStep for every index below ACount, each once, on at most
// RemoteWorkers threads, the calling one among them; returns when all are
// done.
void ForEachOnWorkers(size_t ACount, const std::function<void(size_t)>& AStep) {
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t index = next++; index < ACount; index = next++)
            AStep(index);
    };
    std::vector<std::jthread> workers;
    for (size_t count = std::min(ACount, RemoteWorkers); count > 1; --count)
        workers.emplace_back(work);
    work();
}

// One admitted process while the call deals with it. The thread's memory
// goes before the handles of its process close.
struct TVisit {
    TVisit(TProcessAccess& AAccess, DWORD AProcessId) : Process(AAccess, AProcessId) {}
    TVisitedProcess Process;
    TRemoteThread Thread;
};

} // namespace

TKernelHandle StartRemoteThread(HANDLE AProcess, LPTHREAD_START_ROUTINE ARoutine,
                                LPVOID AArgument) {
    if (!ARoutine)
        return {};
    return TKernelHandle(
        ::CreateRemoteThread(AProcess, nullptr, 0, ARoutine, AArgument, 0, nullptr));
}

TInjectionCounts RunInOtherProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                                     DWORD ATimeout, const TRemoteWork& AWork,
                                     TProcessAccess& AAccess) {
    const TDeadline deadline(ATimeout);
    const std::vector<DWORD> processes = AdmittedProcesses(ATarget, AIncludeMask, AExcludeMask);
    // Each slot is written by the one worker that deals with its process and
    // read once all have returned. A process without an outcome has become
    // another one since the list was taken and is none of this call's.
    std::vector<std::unique_ptr<TVisit>> visits(processes.size());
    std::vector<std::optional<TInjectionOutcomeKind>> outcomes(processes.size());

    // Opened, decided and given a thread, each step only while there is time.
    ForEachOnWorkers(processes.size(), [&](size_t AIndex) {
        auto visit = std::make_unique<TVisit>(AAccess, processes[AIndex]);
        TVisitedProcess& process = visit->Process;
        TVisitFacts facts;
        facts.Reached = deadline.Remaining() > 0;
        if (facts.Reached) {
            facts.Opened = process.OpenToAsk();
            if (facts.Opened && !StillAdmitted(process.Asked(), processes[AIndex], ATarget,
                                               AIncludeMask, AExcludeMask))
                return;
        }
        if (facts.Reached && facts.Opened) {
            const TProcessStanding standing = AAccess.Standing(process.Asked());
            facts.Critical = standing.Critical;
            facts.Protected = standing.Protected;
            facts.Frozen = standing.Frozen;
        }
        if (facts.Reached && facts.Opened && !facts.Critical && !facts.Protected && !facts.Frozen) {
            facts.Opened = process.OpenToRead();
            facts.Reached = deadline.Remaining() > 0;
        }
        if (facts.Reached && facts.Opened && !facts.Critical && !facts.Protected && !facts.Frozen) {
            visit->Thread = AWork.Start(process);
            if (visit->Thread.Thread) {
                visits[AIndex] = std::move(visit);
                return;
            }
            facts.Opened = !process.Refused();
            facts.Start = visit->Thread.Start == vsStarted ? vsNotStarted : visit->Thread.Start;
        }
        outcomes[AIndex] = ClassifyVisit(AWork.Direction, facts);
    });

    // Every thread has until the deadline; then each process is classified
    // and its memory and handles released, also a few at a time.
    ForEachOnWorkers(processes.size(), [&](size_t AIndex) {
        std::unique_ptr<TVisit> visit = std::move(visits[AIndex]);
        if (!visit)
            return;
        TVisitFacts facts;
        const HANDLE thread = visit->Thread.Thread.get();
        facts.ThreadEnded = ::WaitForSingleObject(thread, deadline.Remaining()) == WAIT_OBJECT_0;
        DWORD exitCode = 0;
        if (facts.ThreadEnded && ::GetExitCodeThread(thread, &exitCode))
            facts.ExitCode = exitCode;
        facts.ProcessEnded = HasEnded(visit->Process.Reader());
        if (facts.ThreadEnded && facts.ExitCode == 0 && !facts.ProcessEnded &&
            AWork.Direction == idLoad && AWork.Loaded)
            facts.LoadedAfterAll = AWork.Loaded(visit->Process.Reader());
        if (!facts.ThreadEnded)
            visit->Thread.Memory.Leave();
        outcomes[AIndex] = ClassifyVisit(AWork.Direction, facts);
    });

    TInjectionCounts counts;
    for (const std::optional<TInjectionOutcomeKind>& outcome : outcomes) {
        if (outcome)
            counts.Add(*outcome);
    }
    return counts;
}
