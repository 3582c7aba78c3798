// The trust library's loader (unit "vxnWinAPITrust"): start-up loads
// "wintrust.dll" from the system folder and looks up the nine entry points
// the trust check calls; shut-down frees it. The library is loaded at run
// time, so each entry point's type is that of the platform's own declaration.
#pragma once

#include <windows.h>

#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

#include "platform/Handles.h"

struct TTrustLibrary {
    TModuleHandle Module;
    decltype(&::CryptCATAdminAcquireContext) CryptCATAdminAcquireContext = nullptr;
    decltype(&::CryptCATAdminReleaseContext) CryptCATAdminReleaseContext = nullptr;
    decltype(&::CryptCATAdminCalcHashFromFileHandle) CryptCATAdminCalcHashFromFileHandle = nullptr;
    decltype(&::CryptCATAdminEnumCatalogFromHash) CryptCATAdminEnumCatalogFromHash = nullptr;
    decltype(&::CryptCATCatalogInfoFromContext) CryptCATCatalogInfoFromContext = nullptr;
    decltype(&::CryptCATAdminReleaseCatalogContext) CryptCATAdminReleaseCatalogContext = nullptr;
    decltype(&::WinVerifyTrust) WinVerifyTrust = nullptr;
    decltype(&::WTHelperProvDataFromStateData) WTHelperProvDataFromStateData = nullptr;
    decltype(&::WTHelperGetProvSignerFromChain) WTHelperGetProvSignerFromChain = nullptr;

    // The library and all nine entry points are there.
    bool Complete() const;
};

// The library as start-up left it: empty before start-up and after shut-down.
const TTrustLibrary& TrustLibrary();

void TrustLibraryStartUp();
void TrustLibraryShutDown();
// Puts AFunction in the place of the loaded WinVerifyTrust until the next
// start-up or shut-down and answers the one it replaced, so that a test can
// see what every check hands to the platform.
using TWinVerifyTrust = decltype(&::WinVerifyTrust);
TWinVerifyTrust ReplaceWinVerifyTrust(TWinVerifyTrust AFunction);
