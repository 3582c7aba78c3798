#include "platform/MultiReadExclusiveWriteSynchronizer.h"

void TMultiReadExclusiveWriteSynchronizer::BeginRead() const {
    std::unique_lock<std::mutex> state(FState);
    if (HeldByThisThread()) {
        ++FWriteDepth;
        return;
    }
    // Readers do not wait for writers that merely wait: a reader that reads
    // again while holding the read side must not block behind a writer that
    // in turn waits for it.
    FChanged.wait(state, [this] { return FWriteDepth == 0; });
    ++FReaders;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() const {
    std::lock_guard<std::mutex> state(FState);
    if (HeldByThisThread()) {
        --FWriteDepth;
        if (FWriteDepth == 0)
            FChanged.notify_all();
        return;
    }
    if (--FReaders == 0)
        FChanged.notify_all();
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() const {
    std::unique_lock<std::mutex> state(FState);
    if (HeldByThisThread()) {
        ++FWriteDepth;
        return;
    }
    FChanged.wait(state, [this] { return FWriteDepth == 0 && FReaders == 0; });
    FWriter = std::this_thread::get_id();
    FWriteDepth = 1;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() const {
    std::lock_guard<std::mutex> state(FState);
    if (--FWriteDepth == 0) {
        FWriter = std::thread::id();
        FChanged.notify_all();
    }
}
