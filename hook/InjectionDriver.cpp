#include "InjectionDriver.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

#include "Handles.h"
#include "ProgramPath.h"
#include "WinText.h"

namespace {

// How long a stop may take before it counts as failed.
constexpr DWORD StopWaitTime = 15000;

// Which libraries have been injected through a driver, so that "uninject all"
// finds them from any process. Volatile: the record ends with the session,
// as the injections do.
constexpr const wchar_t* InjectionRecordKey = L"SOFTWARE\\Quorvane Tessit\\HookInjection\\";

bool SameText(const std::wstring& A, const std::wstring& B) {
    return ::CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(),
                                  static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

BOOL Fail(DWORD AError) {
    ::SetLastError(AError);
    return FALSE;
}

bool FullPath(LPCWSTR APath, std::wstring& AFullPath) {
    const DWORD size = ::GetFullPathNameW(APath, 0, nullptr, nullptr);
    if (size == 0)
        return false;
    AFullPath.assign(size, L'\0');
    const DWORD length = ::GetFullPathNameW(APath, size, AFullPath.data(), nullptr);
    if (length == 0 || length >= size)
        return false;
    AFullPath.resize(length);
    return true;
}

// --- Driver services ---

TServiceHandle OpenDriver(LPCWSTR ADriverName, DWORD AAccess) {
    const TServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return {};
    return TServiceHandle(::OpenServiceW(manager.get(), ADriverName, AAccess));
}

// The full path of the driver file for the running Windows, which must exist:
// the service control manager takes any path and only the start would fail.
bool DriverImage(LPCWSTR ADriverFile32, LPCWSTR ADriverFile64, std::wstring& AImage) {
    if (!ADriverFile32 || !ADriverFile64) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SYSTEM_INFO system{};
    ::GetNativeSystemInfo(&system);
    LPCWSTR file =
        DriverFileForArchitecture(system.wProcessorArchitecture, ADriverFile32, ADriverFile64);
    if (!FullPath(file, AImage))
        return false;
    const DWORD attributes = ::GetFileAttributesW(AImage.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return true;
}

// Creates the registration or brings an existing one to this configuration.
bool RegisterDriver(LPCWSTR ADriverName, const std::wstring& AImage, DWORD AStartType,
                    TServiceHandle& AService, bool& ACreated) {
    ACreated = false;
    const TServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return false;
    AService.reset(::CreateServiceW(manager.get(), ADriverName, ADriverName, SERVICE_ALL_ACCESS,
                                    SERVICE_KERNEL_DRIVER, AStartType, SERVICE_ERROR_NORMAL,
                                    AImage.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (AService) {
        ACreated = true;
        return true;
    }
    if (::GetLastError() != ERROR_SERVICE_EXISTS)
        return false;
    AService.reset(::OpenServiceW(manager.get(), ADriverName, SERVICE_ALL_ACCESS));
    return AService && ::ChangeServiceConfigW(AService.get(), SERVICE_KERNEL_DRIVER, AStartType,
                                              SERVICE_ERROR_NORMAL, AImage.c_str(), nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool StartRegisteredDriver(SC_HANDLE AService) {
    if (::StartServiceW(AService, 0, nullptr))
        return true;
    if (::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

// --- Modules and processes ---

// The module of that file name in a process. Module lists are read from the
// process's memory, which needs no thread inside it: a process whose loader
// is busy can still be looked at.
HMODULE FindModuleIn(HANDLE AProcess, const std::wstring& AFileName) {
    if (AFileName.empty())
        return nullptr;
    // In this process the loader answers by base name at once; walking the
    // module list reads it through the process-memory calls, entry by entry,
    // which costs a tenth of a second and more under Wine. The loader adds
    // ".dll" to a name without a dot unless it ends in one, and the name it
    // finds is compared all the same.
    if (AProcess == ::GetCurrentProcess() &&
        AFileName.find_first_of(L"\\/") == std::wstring::npos) {
        const std::wstring query =
            AFileName.find(L'.') == std::wstring::npos ? AFileName + L"." : AFileName;
        HMODULE module = nullptr;
        wchar_t path[MAX_PATH * 2];
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, query.c_str(),
                                  &module) ||
            ::GetModuleFileNameW(module, path, MAX_PATH * 2) == 0)
            return nullptr;
        return SameText(ExtractFileName(path), AFileName) ? module : nullptr;
    }
    std::vector<HMODULE> modules(256);
    for (;;) {
        const DWORD size = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        DWORD needed = 0;
        if (!::EnumProcessModulesEx(AProcess, modules.data(), size, &needed, LIST_MODULES_ALL))
            return nullptr;
        if (needed <= size) {
            modules.resize(needed / sizeof(HMODULE));
            break;
        }
        modules.resize(needed / sizeof(HMODULE) + 16);
    }
    wchar_t name[MAX_PATH];
    for (HMODULE module : modules) {
        const DWORD length = ::GetModuleBaseNameW(AProcess, module, name, MAX_PATH);
        if (length > 0 && SameText(std::wstring(name, length), AFileName))
            return module;
    }
    return nullptr;
}

bool Is64BitProcess() {
    return sizeof(void*) == 8;
}

// Remote threads start at an address of our own kernel32, which only a
// process of our own bitness shares.
bool SameBitness(HANDLE AProcess) {
    BOOL ownWow64 = FALSE;
    BOOL targetWow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &ownWow64) &&
           ::IsWow64Process(AProcess, &targetWow64) && ownWow64 == targetWow64;
}

std::vector<DWORD> OtherProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask) {
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
        if (!ProcessAdmitted(entry.szExeFile, AIncludeMask, AExcludeMask))
            continue;
        DWORD session = 0;
        if (ATarget != InjAllSessions &&
            (!::ProcessIdToSessionId(entry.th32ProcessID, &session) || session != ATarget))
            continue;
        targets.push_back(entry.th32ProcessID);
    }
    return targets;
}

class TDeadline {
public:
    explicit TDeadline(DWORD ATimeout) : FEnd(::GetTickCount64() + ATimeout) {}
    DWORD Remaining() const {
        const ULONGLONG now = ::GetTickCount64();
        return now >= FEnd ? 0 : static_cast<DWORD>(FEnd - now);
    }

private:
    ULONGLONG FEnd;
};

// Visits the admitted processes until the time is up; each visit may use
// what is left of it.
template <typename Visit>
void ForOtherProcesses(DWORD ATarget, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask, DWORD ATimeout,
                       Visit AVisit) {
    const TDeadline deadline(ATimeout);
    for (DWORD processId : OtherProcesses(ATarget, AIncludeMask, AExcludeMask)) {
        if (deadline.Remaining() == 0)
            break;
        AVisit(processId, deadline);
    }
}

// Memory in another process, released unless left to a thread that may still
// read it.
class TRemoteMemory {
public:
    TRemoteMemory(HANDLE AProcess, SIZE_T ASize)
        : FProcess(AProcess), FAddress(::VirtualAllocEx(AProcess, nullptr, ASize,
                                                        MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {
    }
    TRemoteMemory(const TRemoteMemory&) = delete;
    TRemoteMemory& operator=(const TRemoteMemory&) = delete;
    ~TRemoteMemory() {
        if (FAddress) {
            const TLastErrorKeeper keeper;
            ::VirtualFreeEx(FProcess, FAddress, 0, MEM_RELEASE);
        }
    }
    void* Address() const { return FAddress; }
    void Leave() { FAddress = nullptr; }

private:
    HANDLE FProcess;
    void* FAddress;
};

LPTHREAD_START_ROUTINE Kernel32Routine(const char* AName) {
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), AName)));
}

// Runs a kernel32 routine with one argument in the process; true when the
// thread ended within the time.
bool RunRemote(HANDLE AProcess, const char* ARoutine, void* AArgument, DWORD ATimeout) {
    const TKernelHandle thread(::CreateRemoteThread(AProcess, nullptr, 0, Kernel32Routine(ARoutine),
                                                    AArgument, 0, nullptr));
    return thread && ::WaitForSingleObject(thread.get(), ATimeout) == WAIT_OBJECT_0;
}

constexpr DWORD RemoteAccess = PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                               PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ;

void LoadRemote(DWORD AProcessId, const std::wstring& ALibrary, const TDeadline& ADeadline) {
    const TKernelHandle process(::OpenProcess(RemoteAccess, FALSE, AProcessId));
    if (!process || !SameBitness(process.get()) ||
        FindModuleIn(process.get(), ExtractFileName(ALibrary)))
        return;
    const SIZE_T size = (ALibrary.size() + 1) * sizeof(wchar_t);
    TRemoteMemory path(process.get(), size);
    if (!path.Address() ||
        !::WriteProcessMemory(process.get(), path.Address(), ALibrary.c_str(), size, nullptr))
        return;
    // The thread's exit code holds only the low half of a 64-bit module
    // handle, so whether the load worked is seen in the module list instead.
    if (!RunRemote(process.get(), "LoadLibraryW", path.Address(), ADeadline.Remaining()))
        path.Leave(); // still to be read by the thread, if it ever starts
}

void FreeRemote(DWORD AProcessId, const std::wstring& AFileName, const TDeadline& ADeadline) {
    const TKernelHandle process(::OpenProcess(RemoteAccess, FALSE, AProcessId));
    if (!process || !SameBitness(process.get()))
        return;
    if (HMODULE module = FindModuleIn(process.get(), AFileName))
        RunRemote(process.get(), "FreeLibrary", module, ADeadline.Remaining());
}

// --- The record of injections ---

std::wstring RecordKey(LPCWSTR ADriverName) {
    return InjectionRecordKey + std::wstring(ADriverName);
}

void RecordInjection(LPCWSTR ADriverName, LPCWSTR ALibraryFile) {
    TRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecordKey(ADriverName).c_str(), 0, nullptr,
                          REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, key.addressof(),
                          nullptr) == ERROR_SUCCESS)
        ::RegSetValueExW(key.get(), ALibraryFile, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                         sizeof(wchar_t));
}

void ForgetInjection(LPCWSTR ADriverName, LPCWSTR ALibraryFile) {
    TRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKey(ADriverName).c_str(), 0, KEY_SET_VALUE,
                        key.addressof()) == ERROR_SUCCESS)
        ::RegDeleteValueW(key.get(), ALibraryFile);
}

std::vector<std::wstring> RecordedInjections(LPCWSTR ADriverName) {
    std::vector<std::wstring> libraries;
    TRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKey(ADriverName).c_str(), 0, KEY_QUERY_VALUE,
                        key.addressof()) != ERROR_SUCCESS)
        return libraries;
    std::wstring name(32768, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                            nullptr) != ERROR_SUCCESS)
            break;
        libraries.emplace_back(name.c_str(), length);
    }
    return libraries;
}

// --- Injection ---

// Unlike the plain question, says why not.
bool DriverRunsForInjection(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (!service || !::QueryServiceStatus(service.get(), &status))
        return false;
    if (status.dwCurrentState != SERVICE_RUNNING) {
        ::SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return false;
    }
    return true;
}

bool InjectionArguments(LPCWSTR ADriverName, LPCWSTR ALibraryFile, const void* AReserved) {
    if (!ADriverName || !ALibraryFile || !*ALibraryFile || AReserved) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

} // namespace

LPCWSTR DriverFileForArchitecture(WORD AArchitecture, LPCWSTR ADriverFile32,
                                  LPCWSTR ADriverFile64) {
    switch (AArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_ARM64:
    case PROCESSOR_ARCHITECTURE_IA64:
        return ADriverFile64;
    default:
        return ADriverFile32;
    }
}

bool MaskNames(LPCWSTR AMask, const std::wstring& AExeName) {
    if (!AMask)
        return false;
    const std::wstring mask(AMask);
    size_t start = 0;
    for (;;) {
        const size_t end = mask.find(L'|', start);
        std::wstring item = mask.substr(start, end == std::wstring::npos ? end : end - start);
        const size_t first = item.find_first_not_of(L' ');
        const size_t last = item.find_last_not_of(L' ');
        item = first == std::wstring::npos ? std::wstring() : item.substr(first, last - first + 1);
        if (!item.empty() && SameText(item, AExeName))
            return true;
        if (end == std::wstring::npos)
            return false;
        start = end + 1;
    }
}

bool ProcessAdmitted(const std::wstring& AExeName, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask) {
    const bool included = !AIncludeMask || !*AIncludeMask || MaskNames(AIncludeMask, AExeName);
    return included && !MaskNames(AExcludeMask, AExeName);
}

std::wstring LibraryForBitness(const std::wstring& ALibraryFile, bool A64Bit) {
    const size_t nameStart = ALibraryFile.size() - ExtractFileName(ALibraryFile).size();
    size_t stemEnd = ALibraryFile.find_last_of(L'.');
    if (stemEnd == std::wstring::npos || stemEnd < nameStart)
        stemEnd = ALibraryFile.size();
    if (stemEnd < nameStart + 2)
        return ALibraryFile;
    const std::wstring bits = ALibraryFile.substr(stemEnd - 2, 2);
    if (bits != L"32" && bits != L"64")
        return ALibraryFile;
    std::wstring result = ALibraryFile;
    result.replace(stemEnd - 2, 2, A64Bit ? L"64" : L"32");
    return result;
}

BOOL InjInstallDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64,
                      LPCWSTR ADescription) {
    std::wstring image;
    if (!DriverImage(ADriverFile32, ADriverFile64, image))
        return FALSE;
    TServiceHandle service;
    bool created = false;
    if (!RegisterDriver(ADriverName, image, SERVICE_SYSTEM_START, service, created))
        return FALSE;
    std::wstring description = ADescription ? ADescription : L"";
    SERVICE_DESCRIPTIONW info{description.data()};
    return ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &info);
}

BOOL InjLoadDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64) {
    std::wstring image;
    if (!DriverImage(ADriverFile32, ADriverFile64, image))
        return FALSE;
    TServiceHandle service;
    bool created = false;
    if (!RegisterDriver(ADriverName, image, SERVICE_DEMAND_START, service, created))
        return FALSE;
    if (!StartRegisteredDriver(service.get())) {
        // A registration made only for this load does not outlive its failure.
        if (created) {
            const TLastErrorKeeper keeper;
            ::DeleteService(service.get());
        }
        return FALSE;
    }
    // Deleting the registration of a running driver leaves it running: it is
    // removed when it stops, at the latest with the next restart.
    return ::DeleteService(service.get());
}

BOOL InjUninstallDriver(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, DELETE);
    return service && ::DeleteService(service.get());
}

BOOL InjStartDriver(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_START);
    return service && StartRegisteredDriver(service.get());
}

BOOL InjStopDriver(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service)
        return FALSE;
    SERVICE_STATUS status{};
    if (!::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        if (::GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
            return FALSE;
        ::SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    const TDeadline deadline(StopWaitTime);
    while (status.dwCurrentState != SERVICE_STOPPED) {
        if (deadline.Remaining() == 0)
            return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
        ::Sleep(20);
        if (!::QueryServiceStatus(service.get(), &status))
            return FALSE;
    }
    return TRUE;
}

BOOL InjIsDriverInstalled(LPCWSTR ADriverName) {
    // A deleted registration stays visible while its driver runs; only a
    // change of its configuration tells it apart, failing with
    // ERROR_SERVICE_MARKED_FOR_DELETE. This change changes nothing.
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_CHANGE_CONFIG);
    return service && ::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                             SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr);
}

BOOL InjIsDriverRunning(LPCWSTR ADriverName) {
    const TServiceHandle service = OpenDriver(ADriverName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    return service && ::QueryServiceStatus(service.get(), &status) &&
           status.dwCurrentState == SERVICE_RUNNING;
}

BOOL InjInjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                      BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                      const void* AReserved, DWORD ATimeout) {
    if (!InjectionArguments(ADriverName, ALibraryFile, AReserved))
        return FALSE;
    if (!DriverRunsForInjection(ADriverName))
        return FALSE;
    std::wstring given;
    if (!FullPath(ALibraryFile, given))
        return FALSE;
    const std::wstring library = LibraryForBitness(given, Is64BitProcess());
    // The reference taken here is the injection: it is kept until uninjected.
    if (!FindModuleIn(::GetCurrentProcess(), ExtractFileName(library)) &&
        !::LoadLibraryW(library.c_str()))
        return FALSE;
    RecordInjection(ADriverName, given.c_str());
    if (AOtherProcesses)
        ForOtherProcesses(ATarget, AIncludeMask, AExcludeMask, ATimeout,
                          [&](DWORD AProcessId, const TDeadline& ADeadline) {
                              LoadRemote(AProcessId, library, ADeadline);
                          });
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL InjUninjectLibrary(LPCWSTR ADriverName, LPCWSTR ALibraryFile, DWORD ATarget,
                        BOOL AOtherProcesses, LPCWSTR AIncludeMask, LPCWSTR AExcludeMask,
                        const void* AReserved, DWORD ATimeout) {
    if (!InjectionArguments(ADriverName, ALibraryFile, AReserved))
        return FALSE;
    std::wstring given;
    if (!FullPath(ALibraryFile, given))
        return FALSE;
    const std::wstring name = ExtractFileName(LibraryForBitness(given, Is64BitProcess()));
    if (HMODULE module = FindModuleIn(::GetCurrentProcess(), name)) {
        if (!::FreeLibrary(module))
            return FALSE;
    }
    ForgetInjection(ADriverName, given.c_str());
    if (AOtherProcesses)
        ForOtherProcesses(ATarget, AIncludeMask, AExcludeMask, ATimeout,
                          [&](DWORD AProcessId, const TDeadline& ADeadline) {
                              FreeRemote(AProcessId, name, ADeadline);
                          });
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL InjUninjectAllLibraries(LPCWSTR ADriverName, const void* AReserved, DWORD ATimeout) {
    if (!ADriverName || AReserved)
        return Fail(ERROR_INVALID_PARAMETER);
    const TDeadline deadline(ATimeout);
    BOOL result = TRUE;
    for (const std::wstring& library : RecordedInjections(ADriverName)) {
        if (!InjUninjectLibrary(ADriverName, library.c_str(), InjAllSessions, TRUE, nullptr,
                                nullptr, nullptr, deadline.Remaining()))
            result = FALSE;
    }
    if (result)
        ::SetLastError(ERROR_SUCCESS);
    return result;
}

// The lookup is a question asked right after operations whose failure the
// caller may still want to read: it leaves the thread's last error alone.
bool TModuleLookup::IsStillValid() const {
    const TLastErrorKeeper keeper;
    return FModule && FindModuleIn(::GetCurrentProcess(), FFileName) == FModule;
}

TModuleLookup InjFindModule(LPCSTR AFileName) {
    const TLastErrorKeeper keeper;
    std::wstring name = AFileName ? ExtractFileName(AnsiToWide(AFileName)) : std::wstring();
    HMODULE module = FindModuleIn(::GetCurrentProcess(), name);
    return TModuleLookup(std::move(name), module);
}
