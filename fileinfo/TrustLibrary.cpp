#include "fileinfo/TrustLibrary.h"

#include <utility>

#include "diagnostics/DebugLogger.h"

namespace {

constexpr const wchar_t* TrustUnitName = L"vxnWinAPITrust";

TTrustLibrary GTrust;

template <typename TFunction> void LookUp(const char* AName, TFunction& AFunction) {
    AFunction = reinterpret_cast<TFunction>(
        reinterpret_cast<void*>(::GetProcAddress(GTrust.Module.get(), AName)));
}

} // namespace

bool TTrustLibrary::Complete() const {
    return Module && CryptCATAdminAcquireContext && CryptCATAdminReleaseContext &&
           CryptCATAdminCalcHashFromFileHandle && CryptCATAdminEnumCatalogFromHash &&
           CryptCATCatalogInfoFromContext && CryptCATAdminReleaseCatalogContext && WinVerifyTrust &&
           WTHelperProvDataFromStateData && WTHelperGetProvSignerFromChain;
}

const TTrustLibrary& TrustLibrary() {
    return GTrust;
}

void TrustLibraryStartUp() {
    TDebugUnitTrace trace(TrustUnitName, dlsUnitInitialization);
    GTrust = TTrustLibrary();
    // From the system folder only, whatever lies in the program's folder.
    GTrust.Module.reset(::LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!GTrust.Module)
        return;
    LookUp("CryptCATAdminAcquireContext", GTrust.CryptCATAdminAcquireContext);
    LookUp("CryptCATAdminReleaseContext", GTrust.CryptCATAdminReleaseContext);
    LookUp("CryptCATAdminCalcHashFromFileHandle", GTrust.CryptCATAdminCalcHashFromFileHandle);
    LookUp("CryptCATAdminEnumCatalogFromHash", GTrust.CryptCATAdminEnumCatalogFromHash);
    LookUp("CryptCATCatalogInfoFromContext", GTrust.CryptCATCatalogInfoFromContext);
    LookUp("CryptCATAdminReleaseCatalogContext", GTrust.CryptCATAdminReleaseCatalogContext);
    LookUp("WinVerifyTrust", GTrust.WinVerifyTrust);
    LookUp("WTHelperProvDataFromStateData", GTrust.WTHelperProvDataFromStateData);
    LookUp("WTHelperGetProvSignerFromChain", GTrust.WTHelperGetProvSignerFromChain);
}

void TrustLibraryShutDown() {
    TDebugUnitTrace trace(TrustUnitName, dlsUnitFinalization);
    GTrust = TTrustLibrary();
}

TWinVerifyTrust ReplaceWinVerifyTrust(TWinVerifyTrust AFunction) {
    return std::exchange(GTrust.WinVerifyTrust, AFunction);
}
