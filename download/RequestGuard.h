// A request two threads share: the transfer's own thread, which makes every
// call on the request through Call, and a watching thread, which may end the
// transfer (Cancel) at any moment. The platform allows a request to be closed
// only while no call is made on it, and a handle value once closed may
// already name another request: so the request is closed while no call runs,
// at once by Cancel when none does, else by the transfer's thread as soon as
// its call has returned, and no call is made after the end. No call ever
// reaches a closed handle value. Pure: the close is handed in.
#pragma once

#include <functional>
#include <mutex>

class TRequestGuard {
public:
    using THandle = void*;
    // AClose closes a request; it must keep the thread's last error.
    explicit TRequestGuard(std::function<void(THandle)> AClose) : FClose(std::move(AClose)) {}
    TRequestGuard(const TRequestGuard&) = delete;
    TRequestGuard& operator=(const TRequestGuard&) = delete;

    // The transfer's thread: ARequest is open. Closed at once when the
    // transfer has already been ended.
    void Opened(THandle ARequest);
    // The transfer's thread: makes ACall on the request, unless the transfer
    // has been ended; then false without calling it.
    bool Call(const std::function<bool()>& ACall);
    // The transfer's thread, done with ARequest: true when it is still the
    // caller's to close.
    bool Release(THandle ARequest);

    // The watching thread: ends the transfer.
    void Cancel();
    bool Cancelled() const;

private:
    std::function<void(THandle)> FClose;
    mutable std::mutex FLock;
    THandle FRequest = nullptr;
    bool FCalling = false;
    bool FCancelled = false;
};
