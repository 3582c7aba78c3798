// The rules behind the injection layer, apart from the platform: which driver
// file a system runs, which processes an injection admits and which library
// of the pair a process gets.
#pragma once

#include <cstdint>
#include <string>

// wProcessorArchitecture values of the system information.
inline constexpr uint16_t ArchitectureIA64 = 6;
inline constexpr uint16_t ArchitectureAMD64 = 9;
inline constexpr uint16_t ArchitectureARM64 = 12;

// The driver file for the processor architecture of the running Windows.
const wchar_t* DriverFileForArchitecture(uint16_t AArchitecture, const wchar_t* ADriverFile32,
                                         const wchar_t* ADriverFile64);
// System error codes with which Windows refuses to start a driver whose
// signature it does not accept: ERROR_INVALID_IMAGE_HASH (test-signed or
// cross-signed under Secure Boot, Memory integrity) and ERROR_DRIVER_BLOCKED
// (on the blocklist).
inline constexpr uint32_t DriverSignatureRefused = 577;
inline constexpr uint32_t DriverBlocked = 1275;
// What to check when the driver's start failed with that code, as the English
// text to translate; null for a code that is no refusal of the driver.
const wchar_t* DriverRefusalAdvice(uint32_t AErrorCode);

// Whether two file names are the same, letter case aside.
bool SameFileName(const std::wstring& A, const std::wstring& B);
// Whether a "|"-separated mask names the executable.
bool MaskNames(const wchar_t* AMask, const std::wstring& AExeName);
// Whether an injection with these masks reaches the executable.
bool ProcessAdmitted(const std::wstring& AExeName, const wchar_t* AIncludeMask,
                     const wchar_t* AExcludeMask);
// The library of a pair "...32.dll"/"...64.dll" for a process of that bitness;
// any other file stands for itself.
std::wstring LibraryForBitness(const std::wstring& ALibraryFile, bool A64Bit);

enum TProcessLibrary {
    plNone, // no library of the pair runs in it
    pl32,   // the 32-bit x86 library
    pl64,   // the x64 library
};
// Which library of the pair a process can load, from PE machine numbers: the
// system's native machine, the machine a WOW64 process emulates (unknown for
// a process that is not WOW64) and the machine of the process's executable
// (asked only on a system whose native machine is not x64, where a process
// outside WOW64 may be native ARM64 or emulated x64).
TProcessLibrary LibraryForProcess(uint16_t ANativeMachine, uint16_t AWow64Machine,
                                  uint16_t AImageMachine);
// Whether LibraryForProcess needs the machine of the process's executable.
bool ProcessNeedsImageMachine(uint16_t ANativeMachine, uint16_t AWow64Machine);
