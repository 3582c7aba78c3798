// The guard of a request two threads share: calls on it and its close, with a
// close of our own that records, and handles that are plain numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "download/RequestGuard.h"

namespace {

// The closes a guard made, and whether a call ever met a closed handle.
struct TRequests {
    std::mutex Lock;
    std::vector<TRequestGuard::THandle> Closed;
    std::atomic<bool> CallOnClosed{false};

    TRequestGuard Guard() {
        return TRequestGuard([this](TRequestGuard::THandle AHandle) {
            const std::lock_guard<std::mutex> lock(Lock);
            Closed.push_back(AHandle);
        });
    }
    bool IsClosed(TRequestGuard::THandle AHandle) {
        const std::lock_guard<std::mutex> lock(Lock);
        return std::find(Closed.begin(), Closed.end(), AHandle) != Closed.end();
    }
    // A call on AHandle that notes whether it reached a closed one, and
    // takes a moment, as a call on the platform does.
    std::function<bool()> CallOn(TRequestGuard::THandle AHandle) {
        return [this, AHandle] {
            if (IsClosed(AHandle))
                CallOnClosed = true;
            std::this_thread::yield();
            return true;
        };
    }
};

TRequestGuard::THandle Handle(uintptr_t AValue) {
    return reinterpret_cast<TRequestGuard::THandle>(AValue);
}

// The end at each point of the request's life: before it is open, between
// calls, after its owner let go. Each request is closed exactly once, by the
// one whose turn it is, and no call is made after the end.
TEST(RequestGuard, EachRequestIsClosedOnceAndNeverCalledAfterTheEnd) {
    {
        TRequests requests;
        TRequestGuard guard = requests.Guard();
        guard.Cancel();
        guard.Opened(Handle(1));
        EXPECT_EQ(requests.Closed, std::vector<TRequestGuard::THandle>{Handle(1)});
        EXPECT_FALSE(guard.Call(requests.CallOn(Handle(1))));
        EXPECT_FALSE(guard.Release(Handle(1)));
    }
    {
        TRequests requests;
        TRequestGuard guard = requests.Guard();
        guard.Opened(Handle(2));
        EXPECT_TRUE(guard.Call(requests.CallOn(Handle(2))));
        guard.Cancel();
        EXPECT_EQ(requests.Closed, std::vector<TRequestGuard::THandle>{Handle(2)});
        bool called = false;
        EXPECT_FALSE(guard.Call([&] { return called = true; }));
        EXPECT_FALSE(called);
        EXPECT_FALSE(guard.Release(Handle(2)));
        EXPECT_FALSE(requests.CallOnClosed);
    }
    {
        TRequests requests;
        TRequestGuard guard = requests.Guard();
        guard.Opened(Handle(3));
        EXPECT_TRUE(guard.Release(Handle(3)));
        guard.Cancel();
        EXPECT_TRUE(requests.Closed.empty()); // its owner closes it
        EXPECT_FALSE(guard.Release(Handle(3)));
    }
}

// The end comes while a call waits for the server: the request is not closed
// under the call, but as soon as it returns, and nothing more is called.
TEST(RequestGuard, AnEndDuringACallClosesTheRequestWhenTheCallReturns) {
    TRequests requests;
    TRequestGuard guard = requests.Guard();
    guard.Opened(Handle(4));
    std::promise<void> inCall, letGo;
    std::shared_future<void> returned = letGo.get_future().share();
    std::thread transfer([&] {
        guard.Call([&] {
            inCall.set_value();
            returned.wait();
            if (requests.IsClosed(Handle(4)))
                requests.CallOnClosed = true;
            return true;
        });
    });
    inCall.get_future().wait();
    guard.Cancel();
    EXPECT_TRUE(requests.Closed.empty());
    letGo.set_value();
    transfer.join();
    EXPECT_EQ(requests.Closed, std::vector<TRequestGuard::THandle>{Handle(4)});
    EXPECT_FALSE(requests.CallOnClosed);
    EXPECT_FALSE(guard.Call(requests.CallOn(Handle(4))));
    EXPECT_FALSE(guard.Release(Handle(4)));
}

// Many transfers, each ended at a moment of its own while its thread calls
// on and on: no call ever meets a closed request, and each is closed once.
TEST(RequestGuard, NoCallMeetsAClosedRequestWheneverTheEndComes) {
    TRequests requests;
    for (uintptr_t request = 1; request <= 100; ++request) {
        TRequestGuard guard = requests.Guard();
        std::promise<void> started;
        bool ownersToClose = true;
        std::thread transfer([&] {
            guard.Opened(Handle(request));
            started.set_value();
            while (guard.Call(requests.CallOn(Handle(request)))) {
            }
            ownersToClose = guard.Release(Handle(request));
        });
        started.get_future().wait();
        for (uintptr_t spin = 0; spin < request * 7 % 97; ++spin)
            std::this_thread::yield();
        guard.Cancel();
        transfer.join();
        EXPECT_FALSE(ownersToClose) << request;
    }
    EXPECT_FALSE(requests.CallOnClosed);
    EXPECT_EQ(
        std::set<TRequestGuard::THandle>(requests.Closed.begin(), requests.Closed.end()).size(),
        100u);
    EXPECT_EQ(requests.Closed.size(), 100u);
}

} // namespace
