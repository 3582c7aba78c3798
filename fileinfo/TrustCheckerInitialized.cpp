#include "fileinfo/TrustCheckerInitialized.h"

#include <memory>

namespace {

std::unique_ptr<TInitializedTrustChecker> GTrustChecker;

} // namespace

void TInitializedTrustChecker::TestInit() {
    if (!Available())
        Init();
}

TTrustStatus TInitializedTrustChecker::CheckFileTrust(const std::wstring& AFilename) {
    TestInit();
    return TWinTrustChecker::CheckFileTrust(AFilename);
}

TInitializedTrustChecker* TrustChecker() {
    return GTrustChecker.get();
}

void TrustCheckerStartUp() {
    GTrustChecker = std::make_unique<TInitializedTrustChecker>();
}

void TrustCheckerShutDown() {
    GTrustChecker.reset();
}
