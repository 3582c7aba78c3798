#include "download/RequestGuard.h"

#include <utility>

void TRequestGuard::Opened(THandle ARequest) {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        if (!FCancelled) {
            FRequest = ARequest;
            return;
        }
    }
    FClose(ARequest);
}

bool TRequestGuard::Call(const std::function<bool()>& ACall) {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        if (FCancelled)
            return false;
        FCalling = true;
    }
    const bool result = ACall();
    THandle ended = nullptr;
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FCalling = false;
        // Ended during the call: no call runs now, and none will.
        if (FCancelled)
            ended = std::exchange(FRequest, nullptr);
    }
    if (ended)
        FClose(ended);
    return result;
}

bool TRequestGuard::Release(THandle ARequest) {
    const std::lock_guard<std::mutex> lock(FLock);
    if (FRequest != ARequest)
        return false;
    FRequest = nullptr;
    return true;
}

void TRequestGuard::Cancel() {
    THandle ended = nullptr;
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FCancelled = true;
        if (!FCalling)
            ended = std::exchange(FRequest, nullptr);
    }
    // No call can begin once FCancelled is set, so the close needs no lock.
    if (ended)
        FClose(ended);
}

bool TRequestGuard::Cancelled() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FCancelled;
}
