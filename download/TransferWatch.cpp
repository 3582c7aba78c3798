#include "download/TransferWatch.h"

#include <windows.h>
#include <wininet.h>

#include <chrono>

#include "platform/Handles.h"
#include "platform/WinText.h"

std::wstring TransferTag(const char* ACall) {
    return L"TtxInternetHTTP.Transfer." + AnsiToWide(ACall);
}

uint64_t TransferNowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

TTransferWatch::TTransferWatch(const TDownloadLimits& ALimits)
    : FClock({ALimits.ConnectMs, ALimits.HeadMs, ALimits.LowSpeedBytes, ALimits.LowSpeedWindowMs},
             TransferNowMs()),
      FGuard([](TRequestGuard::THandle ARequest) {
          const TLastErrorKeeper keeper;
          ::InternetCloseHandle(ARequest);
      }) {}

bool TTransferWatch::Call(const std::function<bool()>& ACall) {
    if (FGuard.Call(ACall))
        return true;
    if (FGuard.Cancelled())
        ::SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return false;
}
