#include "hook/InjectionRules.h"

#include "hook/ExportTable.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"

const wchar_t* DriverFileForArchitecture(uint16_t AArchitecture, const wchar_t* ADriverFile32,
                                         const wchar_t* ADriverFile64) {
    switch (AArchitecture) {
    case ArchitectureAMD64:
    case ArchitectureARM64:
    case ArchitectureIA64:
        return ADriverFile64;
    default:
        return ADriverFile32;
    }
}

const wchar_t* DriverRefusalAdvice(uint32_t AErrorCode) {
    if (AErrorCode != DriverSignatureRefused && AErrorCode != DriverBlocked)
        return nullptr;
    return L"Windows did not accept the signature of the Live Protection driver. Check test "
           L"signing (bcdedit /enum {current}: testsigning Yes), Secure Boot (msinfo32), Memory "
           L"integrity (Windows Security, Device security, Core isolation) and the Code "
           L"Integrity event log (Microsoft-Windows-CodeIntegrity/Operational).";
}

bool SameFileName(const std::wstring& A, const std::wstring& B) {
    return SameTextIgnoringCase(A, B);
}

bool MaskNames(const wchar_t* AMask, const std::wstring& AExeName) {
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
        if (!item.empty() && SameFileName(item, AExeName))
            return true;
        if (end == std::wstring::npos)
            return false;
        start = end + 1;
    }
}

bool ProcessAdmitted(const std::wstring& AExeName, const wchar_t* AIncludeMask,
                     const wchar_t* AExcludeMask) {
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

bool ProcessNeedsImageMachine(uint16_t ANativeMachine, uint16_t AWow64Machine) {
    return AWow64Machine == PEMachineUnknown && ANativeMachine == PEMachineARM64;
}

TProcessLibrary LibraryForProcess(uint16_t ANativeMachine, uint16_t AWow64Machine,
                                  uint16_t AImageMachine) {
    // WOW64 runs 32-bit x86 programs on x64 and ARM64 alike; a 32-bit ARM
    // program has no library of ours.
    if (AWow64Machine != PEMachineUnknown)
        return AWow64Machine == PEMachineI386 ? pl32 : plNone;
    if (ANativeMachine == PEMachineAMD64)
        return pl64;
    // Outside WOW64 on ARM64, x64 programs run emulated and load x64
    // libraries (ARM64EC ones are made to); native ARM64 programs cannot.
    if (ANativeMachine == PEMachineARM64)
        return AImageMachine == PEMachineAMD64 || AImageMachine == PEMachineARM64EC ? pl64 : plNone;
    // A 32-bit x86 system: its own processes are 32-bit.
    if (ANativeMachine == PEMachineI386)
        return pl32;
    return plNone;
}
