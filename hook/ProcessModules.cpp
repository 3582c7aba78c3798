#include "hook/ProcessModules.h"

#include <psapi.h>

#include <cstdint>
#include <vector>

#include "hook/ExportTable.h"
#include "hook/LoaderList.h"
#include "hook/ProcessAccess.h"
#include "platform/Deadline.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"

namespace {

// Forwarders lead from kernel32 to a few other system modules; a chain this
// long is a loop.
constexpr int MaxForwards = 8;

// A process that has just been created has no module list until its loader
// has set it up: its environment block holds no loader data yet. It is asked
// again for this long; a process whose memory cannot be read is not.
constexpr DWORD NotSetUpRetryTime = 500;
constexpr DWORD NotSetUpPause = 10;

// The loader's entries are read in chunks of this size. Measured under Wine
// on a process of 100 modules: 112 reads one by one took 13-14 ms; 19 reads
// of 4 KiB pages 1.8-2.7 ms, 9 of 16 KiB chunks mostly 1.4-1.7 ms, 4 of 64 KiB
// chunks 1.4-1.9 ms. Wine's server fills and copies every byte read, so of
// the last two the smaller chunks cost it less.
constexpr size_t LoaderReadChunk = 16 * 1024;

using TIsWow64Process2 = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

TIsWow64Process2 IsWow64Process2Routine() {
    // Looked up at run time: systems before Windows 10 1709 lack it.
    static const auto routine = reinterpret_cast<TIsWow64Process2>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    return routine;
}

uint16_t NativeMachineFromSystemInfo() {
    SYSTEM_INFO system{};
    ::GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return PEMachineAMD64;
    case PROCESSOR_ARCHITECTURE_ARM64:
        return PEMachineARM64;
    case PROCESSOR_ARCHITECTURE_INTEL:
        return PEMachineI386;
    default:
        return PEMachineUnknown;
    }
}

bool Machines(HANDLE AProcess, uint16_t& ANative, uint16_t& AWow64) {
    if (const TIsWow64Process2 isWow64Process2 = IsWow64Process2Routine()) {
        USHORT process = 0;
        USHORT native = 0;
        if (!isWow64Process2(AProcess, &process, &native))
            return false;
        ANative = native;
        AWow64 = process;
        return true;
    }
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(AProcess, &wow64))
        return false;
    ANative = NativeMachineFromSystemInfo();
    AWow64 = wow64 ? PEMachineI386 : PEMachineUnknown;
    return true;
}

// The process's memory, read where it lies.
TMemoryReader ProcessMemory(HANDLE AProcess) {
    return [AProcess](uint64_t AAddress, void* ABuffer, size_t ASize) {
        SIZE_T read = 0;
        return AAddress <= UINTPTR_MAX &&
               ::ReadProcessMemory(AProcess, reinterpret_cast<LPCVOID>(AAddress), ABuffer, ASize,
                                   &read) &&
               read == ASize;
    };
}

// Nothing is ever mapped below 64 KiB: a 32-bit block reported there is no
// address. Wine 8 answers ProcessWow64Information of another process with 1,
// a flag, where Windows gives the 32-bit block's address.
constexpr uint64_t LowestBlockAddress = 0x10000;

// The 32-bit modules as the system's own module calls list them: one walk
// per module name, so only where the 32-bit block's address is withheld.
// False when the list cannot be read (yet: ANotSetUp).
bool SearchSystemModuleList(HANDLE AProcess, const std::wstring& AFileName, HMODULE& AModule,
                            bool& ANotSetUp) {
    std::vector<HMODULE> modules(256);
    DWORD needed = 0;
    for (;;) {
        const DWORD size = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!::EnumProcessModulesEx(AProcess, modules.data(), size, &needed, LIST_MODULES_32BIT)) {
            // Right after its start a process has no list yet: Windows
            // answers ERROR_PARTIAL_COPY meanwhile, Wine ERROR_NOACCESS.
            const DWORD error = ::GetLastError();
            ANotSetUp = error == ERROR_PARTIAL_COPY || error == ERROR_NOACCESS;
            return false;
        }
        if (needed <= size)
            break;
        modules.resize(needed / sizeof(HMODULE) + 16);
    }
    modules.resize(needed / sizeof(HMODULE));
    wchar_t name[MAX_PATH];
    for (HMODULE module : modules) {
        const DWORD length = ::GetModuleBaseNameW(AProcess, module, name, MAX_PATH);
        if (length > 0 && SameFileName(std::wstring(name, length), AFileName)) {
            AModule = module;
            break;
        }
    }
    return true;
}

// The environment block whose loader list holds the process's modules of
// that kind, and the layout to read it with: for a WOW64 process's 32-bit
// modules the 32-bit block, which the system reports apart.
bool LoaderListOf(HANDLE AProcess, TProcessLibrary AKind, uint64_t& APeb,
                  const TLoaderLayout*& ALayout) {
    if (sizeof(void*) == 8 && AKind == pl32) {
        ULONG_PTR peb32 = 0;
        if (!QueryProcessInformation(AProcess, ProcessWow64Information, &peb32, sizeof(peb32)))
            return false;
        APeb = peb32;
        ALayout = &LoaderLayout32;
        return true;
    }
    PROCESS_BASIC_INFORMATION basic{};
    if (!QueryProcessInformation(AProcess, ProcessBasicInformation, &basic, sizeof(basic)))
        return false;
    APeb = reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress);
    ALayout = sizeof(void*) == 8 ? &LoaderLayout64 : &LoaderLayout32;
    return true;
}

bool HasEnded(HANDLE AProcess) {
    DWORD exitCode = 0;
    return ::GetExitCodeProcess(AProcess, &exitCode) && exitCode != STILL_ACTIVE;
}

// The image of a module of another process, read where it lies.
TImageReader RemoteImage(HANDLE AProcess, HMODULE AModule) {
    const auto base = reinterpret_cast<ULONG_PTR>(AModule);
    return [AProcess, base](uint32_t ARva, void* ABuffer, size_t ASize) {
        SIZE_T read = 0;
        return ::ReadProcessMemory(AProcess, reinterpret_cast<LPCVOID>(base + ARva), ABuffer, ASize,
                                   &read) &&
               read == ASize;
    };
}

// The machine of the process's executable.
uint16_t ImageMachine(HANDLE AProcess) {
    uint64_t peb = 0;
    const TLoaderLayout* layout = nullptr;
    TImageHeaders headers;
    if (!LoaderListOf(AProcess, OwnLibraryKind(), peb, layout))
        return PEMachineUnknown;
    const uint64_t base = ProcessImageBase(ProcessMemory(AProcess), *layout, peb);
    if (base == 0 || base > UINTPTR_MAX ||
        !ReadImageHeaders(RemoteImage(AProcess, reinterpret_cast<HMODULE>(base)), headers))
        return PEMachineUnknown;
    return headers.Machine;
}

} // namespace

TProcessLibrary LibraryKindOf(HANDLE AProcess) {
    uint16_t native = PEMachineUnknown;
    uint16_t wow64 = PEMachineUnknown;
    if (!Machines(AProcess, native, wow64))
        return plNone;
    const uint16_t image =
        ProcessNeedsImageMachine(native, wow64) ? ImageMachine(AProcess) : PEMachineUnknown;
    return LibraryForProcess(native, wow64, image);
}

TProcessLibrary OwnLibraryKind() {
    return sizeof(void*) == 8 ? pl64 : pl32;
}

HMODULE FindModuleIn(HANDLE AProcess, const std::wstring& AFileName, TProcessLibrary AKind) {
    return SearchModuleIn(AProcess, AFileName, AKind).Module;
}

TModuleSearch SearchModuleIn(HANDLE AProcess, const std::wstring& AFileName,
                             TProcessLibrary AKind) {
    TModuleSearch search;
    if (AFileName.empty()) {
        search.Listed = true;
        return search;
    }
    // In this process the loader answers by base name at once; walking the
    // module list reads it through the process-memory calls, entry by entry,
    // which costs a tenth of a second and more under Wine. The loader adds
    // ".dll" to a name without a dot unless it ends in one, and the name it
    // finds is compared all the same.
    if (AProcess == ::GetCurrentProcess() && AKind == OwnLibraryKind() &&
        AFileName.find_first_of(L"\\/") == std::wstring::npos) {
        const std::wstring query =
            AFileName.find(L'.') == std::wstring::npos ? AFileName + L"." : AFileName;
        HMODULE module = nullptr;
        wchar_t path[MAX_PATH * 2];
        search.Listed = true;
        if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, query.c_str(),
                                 &module) &&
            ::GetModuleFileNameW(module, path, MAX_PATH * 2) != 0 &&
            SameFileName(ExtractFileName(path), AFileName))
            search.Module = module;
        return search;
    }
    // Elsewhere the loader's list is walked once, entry by entry: the
    // system's per-module questions (GetModuleBaseNameW and its kin) each walk
    // it again from its start, which costs m²/2 reads for m modules. The
    // entries are read in chunks: under Wine every read of another process's
    // memory stops that process and costs a tenth of a millisecond or more,
    // whatever its size, and a hundred entries lie in a few chunks.
    const TDeadline retryEnd(NotSetUpRetryTime);
    for (;;) {
        uint64_t peb = 0;
        const TLoaderLayout* layout = nullptr;
        if (!LoaderListOf(AProcess, AKind, peb, layout))
            return search;
        if (layout == &LoaderLayout32 && sizeof(void*) == 8 && peb < LowestBlockAddress) {
            bool notSetUp = false;
            search.Listed = SearchSystemModuleList(AProcess, AFileName, search.Module, notSetUp);
            if (search.Listed || !notSetUp || retryEnd.Remaining() == 0 || HasEnded(AProcess))
                return search;
            ::Sleep(NotSetUpPause);
            continue;
        }
        const TLoaderSearch found = FindLoadedModule(
            ChunkedReader(ProcessMemory(AProcess), LoaderReadChunk), *layout, peb, AFileName);
        if (found.State == llsRead) {
            search.Listed = true;
            search.Module = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(found.Module));
            return search;
        }
        if (found.State != llsNotSetUp || retryEnd.Remaining() == 0 || HasEnded(AProcess))
            return search;
        ::Sleep(NotSetUpPause);
    }
}

LPTHREAD_START_ROUTINE RemoteKernel32Routine(HANDLE AProcess, TProcessLibrary AKind,
                                             const char* AName) {
    if (AKind == plNone)
        return nullptr;
    if (AKind == OwnLibraryKind()) {
        // System modules lie at the same address in every process of a kind.
        return reinterpret_cast<LPTHREAD_START_ROUTINE>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), AName)));
    }
    std::wstring moduleFile = L"kernel32.dll";
    std::string name = AName;
    uint32_t ordinal = 0;
    for (int step = 0; step < MaxForwards; ++step) {
        const HMODULE module = FindModuleIn(AProcess, moduleFile, AKind);
        if (!module)
            return nullptr;
        const TImageReader image = RemoteImage(AProcess, module);
        const TExport found =
            name.empty() ? FindExportByOrdinal(image, ordinal) : FindExport(image, name);
        if (found.Kind == ekAddress)
            return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<ULONG_PTR>(module) +
                                                            found.Rva);
        TForwarder forwarder;
        if (found.Kind != ekForwarded || !SplitForwarder(found.Forwarder, forwarder))
            return nullptr;
        moduleFile = AnsiToWide(forwarder.ModuleFile);
        name = forwarder.Name;
        ordinal = forwarder.Ordinal;
    }
    return nullptr;
}
