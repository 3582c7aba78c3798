#include "hook/ProcessAccess.h"

namespace {

using TNtQueryInformationProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// The extended form of the basic information: the system tells it by the size
// it carries first. Systems that do not know it refuse the size.
struct TExtendedBasicInformation {
    SIZE_T Size;
    PROCESS_BASIC_INFORMATION Basic;
    ULONG Flags;
};
constexpr ULONG ProtectedFlag = 1UL << 0;
constexpr ULONG FrozenFlag = 1UL << 4;

// The protection level (PS_PROTECTION) of Windows 8.1 and later: its low
// three bits are the type, none, light or full.
constexpr auto ProcessProtectionInformationClass = static_cast<PROCESSINFOCLASS>(61);
constexpr UCHAR ProtectionTypeMask = 0x07;

class TSystemProcessAccess : public TProcessAccess {
public:
    TKernelHandle Open(DWORD AAccess, DWORD AProcessId) override {
        return TKernelHandle(::OpenProcess(AAccess, FALSE, AProcessId));
    }

    // Wine knows none of the three (STATUS_INVALID_INFO_CLASS, or the
    // extended size refused): every process is ordinary there.
    TProcessStanding Standing(HANDLE AProcess) override {
        TProcessStanding standing;
        ULONG critical = 0;
        standing.Critical = QueryProcessInformation(AProcess, ProcessBreakOnTermination, &critical,
                                                    sizeof(critical)) &&
                            critical != 0;
        TExtendedBasicInformation extended{};
        extended.Size = sizeof(extended);
        if (QueryProcessInformation(AProcess, ProcessBasicInformation, &extended,
                                    sizeof(extended))) {
            standing.Protected = (extended.Flags & ProtectedFlag) != 0;
            standing.Frozen = (extended.Flags & FrozenFlag) != 0;
        }
        UCHAR protection = 0;
        if (!standing.Protected &&
            QueryProcessInformation(AProcess, ProcessProtectionInformationClass, &protection,
                                    sizeof(protection)))
            standing.Protected = (protection & ProtectionTypeMask) != 0;
        return standing;
    }
};

} // namespace

TProcessAccess& SystemProcessAccess() {
    static TSystemProcessAccess access;
    return access;
}

// Looked up at run time: only ntdll exports it, and the program imports
// nothing but KnownDLLs.
bool QueryProcessInformation(HANDLE AProcess, PROCESSINFOCLASS AClass, void* AInformation,
                             ULONG ASize) {
    static const auto query = reinterpret_cast<TNtQueryInformationProcess>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    return query && query(AProcess, AClass, AInformation, ASize, nullptr) >= 0;
}
