// The download client's limits shortened for a test, as they stand again
// afterwards, also when an assertion ends the test early.
#pragma once

#include <cstdint>

#include "download/WinINet.h"

// The silence limit alone.
class TSilenceLimit {
public:
    explicit TSilenceLimit(uint32_t AMilliseconds) { DownloadLimits.SilenceMs = AMilliseconds; }
    TSilenceLimit(const TSilenceLimit&) = delete;
    TSilenceLimit& operator=(const TSilenceLimit&) = delete;
    ~TSilenceLimit() { DownloadLimits.SilenceMs = DownloadSilenceLimitMs; }
};

// Every limit a test may shorten at once.
class TDownloadLimitsForTest {
public:
    explicit TDownloadLimitsForTest(const TDownloadLimits& ALimits) { DownloadLimits = ALimits; }
    TDownloadLimitsForTest(const TDownloadLimitsForTest&) = delete;
    TDownloadLimitsForTest& operator=(const TDownloadLimitsForTest&) = delete;
    ~TDownloadLimitsForTest() { DownloadLimits = TDownloadLimits(); }
};
