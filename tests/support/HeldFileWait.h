// The held-file wait of the whole-file steps shortened (or given back its
// full length) for a test, as it stood before afterwards, also when an
// assertion ends the test early.
#pragma once

#include <cstdint>

#include "platform/WholeOrNothing.h"

class THeldFileWaitForTest {
public:
    explicit THeldFileWaitForTest(uint32_t AMilliseconds) : FBefore(HeldFileWait) {
        HeldFileWait.LimitMs = AMilliseconds;
    }
    THeldFileWaitForTest(const THeldFileWaitForTest&) = delete;
    THeldFileWaitForTest& operator=(const THeldFileWaitForTest&) = delete;
    ~THeldFileWaitForTest() { HeldFileWait = FBefore; }

private:
    THeldFileWait FBefore;
};
