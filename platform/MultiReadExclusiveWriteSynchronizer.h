// A lock for many readers or one writer. The write side is re-entrant for the
// thread that holds it, and that thread may also take the read side, so code
// running under the write side (a log handler, say) can call back into the
// object that holds the lock. The standard library's shared_mutex is neither.
//
// A thread that holds only the read side must not ask for the write side: the
// lock does not upgrade, and that request waits for ever.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

class TMultiReadExclusiveWriteSynchronizer {
public:
    TMultiReadExclusiveWriteSynchronizer() = default;
    TMultiReadExclusiveWriteSynchronizer(const TMultiReadExclusiveWriteSynchronizer&) = delete;
    TMultiReadExclusiveWriteSynchronizer&
    operator=(const TMultiReadExclusiveWriteSynchronizer&) = delete;

    void BeginRead() const;
    void EndRead() const;
    void BeginWrite() const;
    void EndWrite() const;

private:
    bool HeldByThisThread() const {
        return FWriteDepth > 0 && FWriter == std::this_thread::get_id();
    }

    // Mutable: reading a property takes the lock, and reading is const.
    mutable std::mutex FState;
    mutable std::condition_variable FChanged;
    mutable std::thread::id FWriter;
    mutable std::size_t FWriteDepth = 0; // nested write and read sides of the writer
    mutable std::size_t FReaders = 0;    // threads other than the writer
};

// Scoped holders of the two sides, released also when an error passes.
template <void (TMultiReadExclusiveWriteSynchronizer::*Begin)() const,
          void (TMultiReadExclusiveWriteSynchronizer::*End)() const>
class TLockSide {
public:
    explicit TLockSide(const TMultiReadExclusiveWriteSynchronizer& ALock) : FLock(ALock) {
        (FLock.*Begin)();
    }
    TLockSide(const TLockSide&) = delete;
    TLockSide& operator=(const TLockSide&) = delete;
    ~TLockSide() { (FLock.*End)(); }

private:
    const TMultiReadExclusiveWriteSynchronizer& FLock;
};

using TReadLock = TLockSide<&TMultiReadExclusiveWriteSynchronizer::BeginRead,
                            &TMultiReadExclusiveWriteSynchronizer::EndRead>;
using TWriteLock = TLockSide<&TMultiReadExclusiveWriteSynchronizer::BeginWrite,
                             &TMultiReadExclusiveWriteSynchronizer::EndWrite>;
