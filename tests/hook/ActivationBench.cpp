// activationbench modules=<m> presses=<p> [steps] <name>=<count>...:
// BENCHMARK ONLY.
// A desktop's worth of processes for the injection layer: starts copies of
// injectiontarget.exe (beside this program), each holding <m> modules, in a
// job that ends them all when this program ends, however it ends; registers
// and starts the fixture driver under a name of its own; then, for each
// <name>=<count> in turn, with that many targets running, presses Activate
// and Deactivate <p> times as the hook settings do: InjInjectLibrary and
// InjUninjectLibrary of the fixture library pair (QVHook32.dll), every
// session, no include mask, the default exclude mask, 7000 ms. Prints
// "<name>.seconds" and "de<name>.seconds" (the medians), "<name>.late" (the
// most late processes of any press; "de<name>.late" likewise), and "@" lines with the counts of
// each press and the targets' start.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "hook/DriverService.h"
#include "hook/InjectionDriver.h"
#include "hook/ProcessAccess.h"
#include "hook/ProcessModules.h"
#include "platform/Handles.h"
#include "platform/WinText.h"
#include "tests/services/DebugLogCapture.h"

namespace {

constexpr const wchar_t* DriverName = L"QVBenchDriver";
constexpr const wchar_t* ExcludeMask = L"QVOnAccess.exe|MpCmdRun.exe";
constexpr DWORD PressTimeout = 7000;
// Targets coming up at the same time: Wine starts a process in about a tenth
// of a second of CPU, and hundreds at once only crowd each other out.
constexpr size_t StartingAtOnce = 16;

void WriteOut(const std::string& ALine) {
    const std::string bytes = ALine + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                &written, nullptr);
}

std::string Seconds(double AValue) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", AValue);
    return text;
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// Targets in a job that ends them when its last handle closes.
class TTargets {
public:
    TTargets(std::wstring AProgram, size_t AModules)
        : FProgram(std::move(AProgram)), FModules(AModules),
          FJob(::CreateJobObjectW(nullptr, nullptr)) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        FReady = FJob && ::SetInformationJobObject(FJob.get(), JobObjectExtendedLimitInformation,
                                                   &limits, sizeof(limits));
    }
    TTargets(const TTargets&) = delete;
    TTargets& operator=(const TTargets&) = delete;

    size_t Count() const { return FProcesses.size(); }
    DWORD Id(size_t AIndex) const { return ::GetProcessId(FProcesses[AIndex].get()); }

    // Starts targets until ACount run, each up with its modules loaded.
    bool GrowTo(size_t ACount) {
        while (FReady && FProcesses.size() < ACount) {
            std::vector<TKernelHandle> events;
            const size_t first = FProcesses.size();
            for (size_t i = first; i < ACount && i < first + StartingAtOnce; ++i) {
                TKernelHandle event = StartOne(i);
                if (!event)
                    return false;
                events.push_back(std::move(event));
            }
            for (size_t i = 0; i < events.size(); ++i) {
                const HANDLE waits[] = {events[i].get(), FProcesses[first + i].get()};
                if (::WaitForMultipleObjects(2, waits, FALSE, 300000) != WAIT_OBJECT_0) {
                    WriteOut("@error target " + std::to_string(first + i) + " did not come up");
                    return false;
                }
            }
        }
        return FReady;
    }

private:
    TKernelHandle StartOne(size_t AIndex) {
        const std::wstring event = L"Local\\activationbench-" +
                                   std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(AIndex);
        TKernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        std::wstring commandLine = L"\"" + FProgram + L"\" " + event + L" modules=" +
                                   std::to_wstring(FModules) + L" lifetime=3600";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!ready ||
            !::CreateProcessW(FProgram.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED, nullptr, nullptr, &startup, &info)) {
            WriteOut("@error cannot start a target: " + std::to_string(::GetLastError()));
            return {};
        }
        TKernelHandle process(info.hProcess);
        const TKernelHandle thread(info.hThread);
        if (!::AssignProcessToJobObject(FJob.get(), process.get())) {
            WriteOut("@error cannot put a target in the job: " + std::to_string(::GetLastError()));
            ::TerminateProcess(process.get(), 1);
            return {};
        }
        ::ResumeThread(thread.get());
        FProcesses.push_back(std::move(process));
        return ready;
    }

    std::wstring FProgram;
    size_t FModules;
    TKernelHandle FJob;
    bool FReady = false;
    std::vector<TKernelHandle> FProcesses;
};

// The counts line of the last press, and its number of late processes.
std::wstring CountsLine(const TDebugLogCapture& ALog, const wchar_t* ARoutine) {
    for (const std::wstring& line : ALog.Lines()) {
        if (line.find(std::wstring(L" ") + ARoutine + L" ") != std::wstring::npos)
            return line.substr(line.find(ARoutine));
    }
    return L"";
}

long LateIn(const std::wstring& ALine) {
    const size_t late = ALine.find(L", late ");
    return late == std::wstring::npos ? -1 : std::wcstol(ALine.c_str() + late + 7, nullptr, 10);
}

double Median(std::vector<double> AValues) {
    std::sort(AValues.begin(), AValues.end());
    return AValues[(AValues.size() - 1) / 2];
}

// One press: its seconds, its counts line as an "@" line, its late count.
double Press(bool AActivate, const std::wstring& ALibrary, long& ALate) {
    TDebugLogCapture log;
    const auto start = std::chrono::steady_clock::now();
    if (AActivate)
        InjInjectLibrary(DriverName, ALibrary.c_str(), InjAllSessions, TRUE, nullptr, ExcludeMask,
                         nullptr, PressTimeout);
    else
        InjUninjectLibrary(DriverName, ALibrary.c_str(), InjAllSessions, TRUE, nullptr, nullptr,
                           nullptr, PressTimeout);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::wstring counts =
        CountsLine(log, AActivate ? L"InjInjectLibrary" : L"InjUninjectLibrary");
    WriteOut("@" + Seconds(seconds) + " " + WideToUtf8(counts));
    ALate = std::max(ALate, counts.empty() ? 1000000L : LateIn(counts));
    return seconds;
}

// The steps of a press one process after the other, each timed over all
// targets: where the time of a press goes. Also the per-module name
// questions of the system, which walk the list from its start each time.
class TStepClock {
public:
    template <typename F> auto operator()(const char* AStep, F AWork) {
        const auto start = std::chrono::steady_clock::now();
        auto result = AWork();
        FTotals[AStep] +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return result;
    }
    void Print(size_t ACount) const {
        for (const auto& [step, total] : FTotals)
            WriteOut("@step " + step + ": " + Seconds(total * 1000 / ACount) + " ms per process");
    }

private:
    std::map<std::string, double> FTotals;
};

void TimeSteps(const TTargets& ATargets, const std::wstring& ALibrary) {
    TStepClock clock;
    const std::wstring library64 = ALibrary.substr(0, ALibrary.size() - 6) + L"64.dll";
    const std::wstring name = library64.substr(library64.find_last_of(L'\\') + 1);
    const size_t count = ATargets.Count();
    for (size_t i = 0; i < count; ++i) {
        const DWORD id = ATargets.Id(i);
        const TKernelHandle asked =
            clock("1 open to ask", [&] { return SystemProcessAccess().Open(AskAccess, id); });
        clock("2 image name", [&] {
            wchar_t image[MAX_PATH];
            DWORD length = MAX_PATH;
            return ::QueryFullProcessImageNameW(asked.get(), 0, image, &length);
        });
        clock("3 standing", [&] { return SystemProcessAccess().Standing(asked.get()).Critical; });
        const TKernelHandle reader =
            clock("4 open to read", [&] { return SystemProcessAccess().Open(ReadAccess, id); });
        const TProcessLibrary kind =
            clock("5 bitness", [&] { return LibraryKindOf(reader.get()); });
        clock("6 module list walk", [&] { return SearchModuleIn(reader.get(), name, kind); });
        const TKernelHandle process = clock("7 open for the thread", [&] {
            return SystemProcessAccess().Open(LoadThreadAccess, id);
        });
        const SIZE_T size = (library64.size() + 1) * sizeof(wchar_t);
        TRemoteMemory memory =
            clock("8 VirtualAllocEx", [&] { return TRemoteMemory(process.get(), size); });
        clock("9 WriteProcessMemory", [&] {
            return ::WriteProcessMemory(process.get(), memory.get(), library64.c_str(), size,
                                        nullptr);
        });
        const TKernelHandle thread = clock("A CreateRemoteThread", [&] {
            return StartRemoteThread(process.get(),
                                     RemoteKernel32Routine(reader.get(), kind, "LoadLibraryW"),
                                     memory.get());
        });
        clock("B thread runs LoadLibraryW",
              [&] { return ::WaitForSingleObject(thread.get(), 10000); });
        clock("C VirtualFreeEx", [&] {
            memory.reset();
            return 0;
        });
        const TModuleSearch loaded = clock("D module list walk to the end", [&] {
            return SearchModuleIn(reader.get(), name, kind);
        });
        const TKernelHandle freeing = clock("E FreeLibrary thread", [&] {
            TKernelHandle started = StartRemoteThread(
                process.get(), RemoteKernel32Routine(reader.get(), kind, "FreeLibrary"),
                loaded.Module);
            ::WaitForSingleObject(started.get(), 10000);
            return started;
        });
        if (i < 10) {
            clock("F per-module names (the system's, 10 processes)", [&] {
                std::vector<HMODULE> modules(1024);
                DWORD needed = 0;
                ::EnumProcessModulesEx(reader.get(), modules.data(),
                                       static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                                       &needed, LIST_MODULES_DEFAULT);
                wchar_t text[MAX_PATH];
                for (size_t m = 0; m < needed / sizeof(HMODULE) && m < modules.size(); ++m)
                    ::GetModuleBaseNameW(reader.get(), modules[m], text, MAX_PATH);
                return needed;
            });
        }
    }
    clock.Print(count);
}

long OptionValue(const std::wstring& AArgument, const std::wstring& AName) {
    if (AArgument.rfind(AName + L"=", 0) != 0)
        return -1;
    return std::wcstol(AArgument.c_str() + AName.size() + 1, nullptr, 10);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4)
        return 2;
    const long modules = OptionValue(argv[1], L"modules");
    const long presses = OptionValue(argv[2], L"presses");
    if (modules < 0 || presses <= 0)
        return 2;
    int first = 3;
    const bool steps = std::wstring(argv[first]) == L"steps";
    if (steps)
        ++first;
    const std::wstring folder = OwnFolder();
    const std::wstring library = folder + L"QVHook32.dll";
    TTargets targets(folder + L"injectiontarget.exe", static_cast<size_t>(modules));

    if (!InjInstallDriver(DriverName, (folder + L"QVHookDrv32.sys").c_str(),
                          (folder + L"QVHookDrv64.sys").c_str(), L"") ||
        !InjStartDriver(DriverName)) {
        WriteOut("@error cannot start the driver: " + std::to_string(::GetLastError()));
        InjUninstallDriver(DriverName);
        return 2;
    }
    int exitCode = 0;
    for (int i = first; i < argc && exitCode == 0; ++i) {
        const std::wstring argument = argv[i];
        const size_t equals = argument.find(L'=');
        const std::string name = WideToUtf8(argument.substr(0, equals));
        const long count =
            equals == std::wstring::npos ? -1 : OptionValue(argument, argument.substr(0, equals));
        const auto start = std::chrono::steady_clock::now();
        if (count < 0 || !targets.GrowTo(static_cast<size_t>(count))) {
            exitCode = 2;
            break;
        }
        WriteOut(
            "@" + std::to_string(targets.Count()) + " targets of " + std::to_string(modules) +
            " modules up after " +
            Seconds(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()) +
            " s");
        std::vector<double> activate;
        std::vector<double> deactivate;
        long late = 0;
        long lateDeactivating = 0;
        for (long press = 0; press < presses; ++press) {
            activate.push_back(Press(true, library, late));
            deactivate.push_back(Press(false, library, lateDeactivating));
        }
        WriteOut(name + ".seconds: " + Seconds(Median(activate)));
        WriteOut("de" + name + ".seconds: " + Seconds(Median(deactivate)));
        WriteOut(name + ".late: " + std::to_string(late));
        WriteOut("de" + name + ".late: " + std::to_string(lateDeactivating));
        if (steps)
            TimeSteps(targets, library);
    }
    InjStopDriver(DriverName);
    InjUninstallDriver(DriverName);
    return exitCode;
}
