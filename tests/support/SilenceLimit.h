// The download client's silence limit shortened for a test, as it stands again
// afterwards, also when an assertion ends the test early.
#pragma once

#include <cstdint>

#include "WinINet.h"

class TSilenceLimit {
public:
    explicit TSilenceLimit(uint32_t AMilliseconds) { WinINetSilenceLimitMs = AMilliseconds; }
    TSilenceLimit(const TSilenceLimit&) = delete;
    TSilenceLimit& operator=(const TSilenceLimit&) = delete;
    ~TSilenceLimit() { WinINetSilenceLimitMs = DownloadSilenceLimitMs; }
};
