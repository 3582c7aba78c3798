#include "hook/RemoteThreads.h"

#include <tlhelp32.h>

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
        if (facts.Reached && facts.Opened && !facts.Critical && !facts.Protected &&
            !facts.Frozen) {
            facts.Opened = process.OpenToRead();
            facts.Reached = deadline.Remaining() > 0;
        }
        if (facts.Reached && facts.Opened && !facts.Critical && !facts.Protected &&
            !facts.Frozen) {
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
