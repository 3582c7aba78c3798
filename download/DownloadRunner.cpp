#include "download/DownloadRunner.h"

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "diagnostics/DebugLogger.h"
#include "diagnostics/FailedCall.h"
#include "download/TransferWatch.h"
#include "download/WinINet.h"
#include "platform/Handles.h"

namespace {

// One download on its own thread: everything it writes is here, shared with
// the thread that waits for it, so that a transfer left behind writes only
// into what nobody reads any more.
struct TDownloadAttempt {
    explicit TDownloadAttempt(const TDownloadLimits& ALimits) : Watch(ALimits) {}
    TTransferWatch Watch;
    TMemoryStream Stream;
    int32_t ErrorCode = 0;
    bool Received = false;
    std::exception_ptr Error;
    TKernelHandle Finished;
};

void Download(TDownloadAttempt& AAttempt, const std::wstring& AURL) {
    TtxInternetHTTP client;
    client.SetWatch(&AAttempt.Watch);
    AAttempt.Received = client.Download(AURL, AAttempt.Stream);
    AAttempt.ErrorCode = static_cast<int32_t>(client.ErrorCode());
    // Only a file the server had is a download: an error page is not, nor an
    // answer without a readable status.
    if (AAttempt.Received && client.StatusCode() != 200) {
        AAttempt.Received = false;
        AAttempt.ErrorCode =
            client.StatusCode() != 0 ? client.StatusCode() : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    }
}

// The attempts whose platform call was left behind, each with its thread:
// joined once it has ended, by the next download or the module's shut-down.
struct TLeftBehind {
    std::shared_ptr<TDownloadAttempt> Attempt;
    std::jthread Thread;
};

class TAttemptsLeftBehind {
public:
    TAttemptsLeftBehind() = default;
    TAttemptsLeftBehind(const TAttemptsLeftBehind&) = delete;
    TAttemptsLeftBehind& operator=(const TAttemptsLeftBehind&) = delete;
    // Whatever still runs when the program's statics go is the process's end
    // to take: joining it could wait for ever.
    ~TAttemptsLeftBehind() {
        for (TLeftBehind& left : FAttempts)
            left.Thread.detach();
    }

    void Add(std::shared_ptr<TDownloadAttempt> AAttempt, std::jthread AThread) {
        const std::lock_guard<std::mutex> lock(FLock);
        FAttempts.push_back({std::move(AAttempt), std::move(AThread)});
    }

    size_t Join(uint32_t AWaitMs) {
        std::vector<TLeftBehind> attempts;
        {
            const std::lock_guard<std::mutex> lock(FLock);
            attempts.swap(FAttempts);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AWaitMs);
        std::vector<TLeftBehind> running;
        for (TLeftBehind& left : attempts) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const DWORD waitMs = rest.count() > 0 ? static_cast<DWORD>(rest.count()) : 0;
            if (::WaitForSingleObject(left.Attempt->Finished.get(), waitMs) == WAIT_OBJECT_0)
                left.Thread.join();
            else
                running.push_back(std::move(left));
        }
        const std::lock_guard<std::mutex> lock(FLock);
        for (TLeftBehind& left : running)
            FAttempts.push_back(std::move(left));
        return FAttempts.size();
    }

private:
    std::mutex FLock;
    std::vector<TLeftBehind> FAttempts;
};

TAttemptsLeftBehind GLeftBehind;

// The thread of one download attempt, as its caller holds it. However the
// caller's wait ends (a listener's exception too), the thread is joined when
// its transfer has returned, else the transfer is ended and left behind: the
// calling thread never waits for the platform.
class TTransferThread {
public:
    TTransferThread(std::shared_ptr<TDownloadAttempt> AAttempt, const std::wstring& AURL)
        : FAttempt(std::move(AAttempt)), FThread([attempt = FAttempt, AURL] {
              try {
                  Download(*attempt, AURL);
              } catch (...) {
                  attempt->Error = std::current_exception();
              }
              ::SetEvent(attempt->Finished.get());
          }) {}
    TTransferThread(const TTransferThread&) = delete;
    TTransferThread& operator=(const TTransferThread&) = delete;
    ~TTransferThread() { End(); }

    void End() {
        if (!FThread.joinable())
            return;
        if (::WaitForSingleObject(FAttempt->Finished.get(), 0) == WAIT_OBJECT_0) {
            FThread.join();
            return;
        }
        FAttempt->Watch.Cancel();
        GLeftBehind.Add(FAttempt, std::move(FThread));
    }

private:
    std::shared_ptr<TDownloadAttempt> FAttempt;
    std::jthread FThread;
};

const char* PhaseName(TTransferPhase APhase) {
    switch (APhase) {
    case TTransferPhase::Connecting:
        return "connecting";
    case TTransferPhase::Answering:
        return "waiting for the head";
    case TTransferPhase::Receiving:
        return "receiving the body";
    }
    return "";
}

} // namespace

size_t JoinDownloadsLeftBehind(uint32_t AWaitMs) {
    return GLeftBehind.Join(AWaitMs);
}

bool DownloadToStream(const std::wstring& AURL, TMemoryStream& AStream, int32_t& AErrorCode,
                      const TDownloadWait& AWait) {
    const TDownloadLimits limits = DownloadLimits;
    auto attempt = std::make_shared<TDownloadAttempt>(limits);
    attempt->Finished.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!attempt->Finished) {
        AErrorCode = static_cast<int32_t>(::GetLastError());
        return false;
    }
    const HANDLE finished = attempt->Finished.get();
    // Those left behind earlier that have ended since are joined now.
    GLeftBehind.Join(0);
    TTransferThread transfer(attempt, AURL);

    const auto waiting = [&] {
        if (AWait.OnWaiting)
            AWait.OnWaiting(attempt->Watch.ReceivedBytes(), attempt->Watch.TotalBytes());
        return AWait.Cancel && *AWait.Cancel;
    };
    uint32_t ended = ERROR_SUCCESS;
    for (;;) {
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &finished, FALSE, 100, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            break;
        if (woken == WAIT_FAILED) {
            ended = ::GetLastError();
            break;
        }
        if (waiting()) {
            ended = DownloadCancelledCode;
            break;
        }
        if (attempt->Watch.Overdue()) {
            ended = ERROR_INTERNET_TIMEOUT;
            break;
        }
    }
    if (ended != ERROR_SUCCESS) {
        const TTransferPhase phase = attempt->Watch.Phase();
        attempt->Watch.Cancel();
        const bool returned =
            ::WaitForSingleObject(finished, limits.AbandonGraceMs) == WAIT_OBJECT_0;
        LogFailedCall(TransferTag(ended == DownloadCancelledCode ? "Cancelled" : "Bound"), ended);
        if (TDebugLogger* logger = DebugLogger())
            logger->LogMessage(std::string("- transfer ended while ") + PhaseName(phase) +
                                   (returned ? "" : "; the platform's call is left behind"),
                               dlvDefault);
        transfer.End();
        waiting();
        AErrorCode = static_cast<int32_t>(ended);
        return false;
    }
    transfer.End();
    // Cancelled while its last bytes arrived: nothing of it is used all the same.
    if (waiting()) {
        AErrorCode = static_cast<int32_t>(DownloadCancelledCode);
        return false;
    }
    if (attempt->Error)
        std::rethrow_exception(attempt->Error);
    if (AStream.Size() == 0 && AStream.Position() == 0)
        AStream = std::move(attempt->Stream);
    else
        AStream.WriteBuffer(attempt->Stream.Bytes().data(), attempt->Stream.Bytes().size());
    AStream.SetPosition(0);
    AErrorCode = attempt->ErrorCode;
    return attempt->Received;
}

void DownloadRunnerShutDown() {
    JoinDownloadsLeftBehind(DownloadLimits.AbandonGraceMs);
}
