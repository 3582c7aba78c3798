// The libraries the built executable names in its import table: Windows
// resolves them before the program's first line, searching the program's own
// folder first for every one that is not a KnownDLL.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "platform/Handles.h"
#include "tests/automation/Automation.h"

namespace {

// KnownDLLs on every Windows the tool runs on, 7 to 11: always taken from the
// system folder. Beside them ntdll, which the system maps into every process
// before any library is looked for.
const std::vector<std::string> KnownDlls = {
    "ntdll.dll",    "advapi32.dll", "clbcatq.dll",  "comdlg32.dll", "difxapi.dll", "gdi32.dll",
    "imagehlp.dll", "imm32.dll",    "kernel32.dll", "msctf.dll",    "msvcrt.dll",  "normaliz.dll",
    "nsi.dll",      "ole32.dll",    "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",  "sechost.dll",
    "setupapi.dll", "shell32.dll",  "shlwapi.dll",  "user32.dll",   "wldap32.dll", "ws2_32.dll",
};

// The import table's library names, in lower case; empty when the file does
// not map as an image.
std::vector<std::string> ImportedLibraries(const std::wstring& AProgram) {
    const TFileHandle file(::CreateFileW(AProgram.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!file)
        return {};
    const TKernelHandle mapping(
        ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
    if (!mapping)
        return {};
    const TMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return {};
    const auto* base = static_cast<const char*>(view.get());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    for (const auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = base + entry->Name;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        names.push_back(name);
    }
    return names;
}

TEST(ImportTable, NamesOnlyKnownDlls) {
    const std::vector<std::string> imported =
        ImportedLibraries(TestProgramFolder() + L"derodo.exe");
    ASSERT_FALSE(imported.empty());
    for (const std::string& name : imported)
        EXPECT_TRUE(std::find(KnownDlls.begin(), KnownDlls.end(), name) != KnownDlls.end())
            << name << " is not a KnownDLL";
}

// The libraries only the buttons' actions need load at their first use, for
// both programs: the start-up does not wait for them.
TEST(ImportTable, LeavesTheActionsLibrariesToTheirFirstUse) {
    for (const wchar_t* program : {L"derodo.exe", L"derodo.com"}) {
        const std::vector<std::string> imported = ImportedLibraries(TestProgramFolder() + program);
        ASSERT_FALSE(imported.empty());
        for (const char* name : {"ole32.dll", "ws2_32.dll", "imagehlp.dll"})
            EXPECT_TRUE(std::find(imported.begin(), imported.end(), name) == imported.end())
                << name;
    }
}

} // namespace
