#include "app/Modules.h"

#include <utility>

TModuleSequence::TModuleSequence(std::vector<TModuleStep> ASteps) : FSteps(std::move(ASteps)) {}

TModuleSequence::~TModuleSequence() {
    ShutDown();
}

void TModuleSequence::StartUp() {
    try {
        for (; FStarted < FSteps.size(); ++FStarted) {
            if (FSteps[FStarted].StartUp)
                FSteps[FStarted].StartUp();
        }
    } catch (...) {
        ShutDown();
        throw;
    }
}

void TModuleSequence::ShutDown() noexcept {
    while (FStarted > 0) {
        --FStarted;
        if (FSteps[FStarted].ShutDown) {
            try {
                FSteps[FStarted].ShutDown();
            } catch (...) {
                // A module that fails to shut down must not keep the others
                // from releasing what they hold.
            }
        }
    }
}
