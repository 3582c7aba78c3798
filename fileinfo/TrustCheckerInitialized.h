// The process-wide trust checker (module "Taurix.Windows.Trust.Initialized"):
// created at start-up without being initialised; it initialises itself on its
// first check, and tries again on every check while that keeps failing.
#pragma once

#include "fileinfo/TrustChecker.h"

class TInitializedTrustChecker : public TWinTrustChecker {
public:
    // Calls Init while the checker is not available.
    void TestInit();
    // TestInit, then the inherited check.
    TTrustStatus CheckFileTrust(const std::wstring& AFilename) override;
};

// The instance; null outside the module's start-up and shut-down.
TInitializedTrustChecker* TrustChecker();

// Module steps: create and destroy the instance. They run after and before the
// trust library's own steps.
void TrustCheckerStartUp();
void TrustCheckerShutDown();
