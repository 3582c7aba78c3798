#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/MultiReadExclusiveWriteSynchronizer.h"

namespace {

using namespace std::chrono_literals;

// Starts AWork on another thread and reports whether it got through while the
// calling thread still holds what it holds. A short grace period: a thread
// that should be blocked has had every chance to get through by then.
template <typename TWork> class TContender {
public:
    explicit TContender(TWork AWork)
        : FThread([this, AWork] {
              AWork();
              FDone = true;
          }) {}
    bool DoneAfterGrace() {
        std::this_thread::sleep_for(100ms);
        return FDone;
    }
    bool DoneAfterRelease() {
        FThread.join();
        return FDone;
    }

private:
    std::atomic<bool> FDone = false;
    std::jthread FThread;
};

TEST(MultiReadExclusiveWriteSynchronizer, WriteSideIsReentrantAndMayReadForItsHolder) {
    TMultiReadExclusiveWriteSynchronizer lock;
    lock.BeginWrite();
    lock.BeginWrite();
    lock.BeginRead();
    lock.EndRead();
    lock.EndWrite();

    TContender reader([&] { TReadLock read(lock); });
    EXPECT_FALSE(reader.DoneAfterGrace()) << "still held once: no other thread may read";
    lock.EndWrite();
    EXPECT_TRUE(reader.DoneAfterRelease());
}

TEST(MultiReadExclusiveWriteSynchronizer, ReadersShareAndExcludeWriters) {
    TMultiReadExclusiveWriteSynchronizer lock;
    lock.BeginRead();
    {
        TContender reader([&] { TReadLock read(lock); });
        EXPECT_TRUE(reader.DoneAfterRelease()) << "a second reader does not wait";
    }
    TContender writer([&] { TWriteLock write(lock); });
    EXPECT_FALSE(writer.DoneAfterGrace());
    lock.EndRead();
    EXPECT_TRUE(writer.DoneAfterRelease());
}

TEST(MultiReadExclusiveWriteSynchronizer, WritersExcludeEachOther) {
    TMultiReadExclusiveWriteSynchronizer lock;
    lock.BeginWrite();
    TContender writer([&] { TWriteLock write(lock); });
    EXPECT_FALSE(writer.DoneAfterGrace());
    lock.EndWrite();
    EXPECT_TRUE(writer.DoneAfterRelease());
}

} // namespace
