// The eight Live Protection files, as bare names; every console step addresses
// one as the program folder followed by its name.
#pragma once

#include <array>
#include <string>

inline constexpr std::array<const wchar_t*, 8> LiveProtectionFiles = {
    L"QVFSSvc.exe",     L"QVHook32.dll",     L"QVHook64.dll",     L"QVHookDrv32.sys",
    L"QVHookDrv64.sys", L"QVHookHelper.exe", L"QVHookInst32.exe", L"QVHookInst64.exe",
};

// The file-scan service's executable (index 0) is never downloaded or replaced.
inline constexpr size_t FirstAlternativeFile = 1;

// Program folder + the file's name.
std::wstring LiveProtectionFilePath(size_t AIndex);
