// The watch over one transfer: its phases as the transfer's thread lives them,
// timed against the download's bounds, and its request, which the watching
// thread ends a transfer that ran over its bound by. The client reports to it;
// the runner (DownloadToStream) reads it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "download/InternetRules.h"
#include "download/RequestGuard.h"
#include "download/WinINet.h"

// The debug log's tag of a failed transfer step ACall.
std::wstring TransferTag(const char* ACall);

// Milliseconds of a steady clock, as the watch's clock counts them.
uint64_t TransferNowMs();

// Every call on the request goes through the guard, which closes it exactly
// once and never while a call is made on it.
class TTransferWatch {
public:
    explicit TTransferWatch(const TDownloadLimits& ALimits);

    // The transfer's thread.
    void Connecting() {
        Update([](TTransferClock& AClock) { AClock.Connecting(TransferNowMs()); });
    }
    void Connected() {
        Update([](TTransferClock& AClock) { AClock.Connected(TransferNowMs()); });
    }
    void HeadReceived(int64_t ATotal) {
        FTotal = ATotal;
        Update([](TTransferClock& AClock) { AClock.HeadReceived(TransferNowMs()); });
    }
    void Received(int64_t ABytes) {
        FReceived = ABytes;
        Update([ABytes](TTransferClock& AClock) { AClock.Received(ABytes); });
    }
    void Opened(void* ARequest) { FGuard.Opened(ARequest); }
    // A call on the request: false, with ERROR_INTERNET_OPERATION_CANCELLED,
    // and not made once the watch has ended the transfer.
    bool Call(const std::function<bool()>& ACall);
    bool Cancelled() const { return FGuard.Cancelled(); }
    // True when the request is still the caller's to close.
    bool Release(void* ARequest) { return FGuard.Release(ARequest); }

    // The watching thread.
    bool Overdue() {
        const std::lock_guard<std::mutex> lock(FLock);
        return FClock.Overdue(TransferNowMs());
    }
    TTransferPhase Phase() {
        const std::lock_guard<std::mutex> lock(FLock);
        return FClock.Phase();
    }
    // Ends the transfer. Its request is closed now if no call is made on it,
    // else as soon as the call returns: Windows allows a close only while no
    // call is made on the handle. A call that waits for the server returns
    // only when the server sends, or the platform's own time-out (the
    // silence and connect limits, given to it) ends it; the window does not
    // wait for it (DownloadAbandonGraceMs).
    void Cancel() { FGuard.Cancel(); }
    int64_t ReceivedBytes() const { return FReceived; }
    int64_t TotalBytes() const { return FTotal; }

private:
    template <typename TChange> void Update(TChange AChange) {
        const std::lock_guard<std::mutex> lock(FLock);
        AChange(FClock);
    }

    std::mutex FLock;
    TTransferClock FClock;
    TRequestGuard FGuard;
    std::atomic<int64_t> FReceived{0}, FTotal{0};
};
