// Downloads run on a thread of their own while the calling thread waits,
// watches their bounds and lets its messages through: the client
// (download/WinINet.h) as the tool calls it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "download/MemoryStream.h"

// How the calling thread waits while DownloadToStream's transfer runs on a
// thread of its own.
struct TDownloadWait {
    // Called on the calling thread whenever messages arrive for it, at least
    // every tenth of a second, and once at the end: the bytes so far and the
    // announced length (0 without one).
    std::function<void(int64_t AReceived, int64_t ATotal)> OnWaiting;
    // Set, from OnWaiting, to end the download: it then fails with
    // DownloadCancelledCode, also when its last bytes had already arrived.
    const bool* Cancel = nullptr;
};

// Downloads AURL into AStream with a client of its own on the system's
// internet settings. True only for a complete body with status 200. False
// with AErrorCode: 1 for a URL without "://", 18 for status 404, another HTTP
// status for any other answer (its body stays in the stream but is no file),
// 12152 for an answer without a readable status or head, with a length that
// is no plain number or with two that disagree, 223 for a body beyond the
// body limit, 12002 when the transfer passed one of its bounds (connecting,
// the head, the silence limit, the low-speed limit), 12017 when cancelled,
// 12040 for an https address redirected to another scheme, else the
// platform's error of the failed call (12031 when the body ended short of its
// announced length). The transfer runs on a thread of its own, which the
// calling thread watches: one that passed its bound or was cancelled is
// closed and, when the platform's call does not return within the abandon
// grace, left behind; AStream then holds nothing of it, ever.
bool DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream, int32_t& AErrorCode,
                      const TDownloadWait& AWait = {});
// The transfers left behind still run, each on its thread, until the
// platform's call returns: under Wine only when the server sends or closes or
// the platform's own time-out ends it (Windows returns the call when the
// request is closed). Joins those that end within AWaitMs and answers how
// many still run. A program joins them before it ends wherever it can: one
// that returns while the process ends is cut off inside WinINet.
size_t JoinDownloadsLeftBehind(uint32_t AWaitMs);

// The module's shut-down: joins the downloads left behind that end within the
// abandon grace; the process's end takes any still in the platform.
void DownloadRunnerShutDown();
