#include "app/LibrarySearch.h"

#include <windows.h>

void RestrictLibrarySearchToSystemFolder() {
    // Looked up rather than imported: Windows 7 has it only with KB2533623,
    // and a missing import would keep the tool from starting at all.
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    // From here on every load by bare name, the delay-loaded libraries' and
    // their dependencies' included, searches the system folder only.
    if (setDefaultDllDirectories)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}
