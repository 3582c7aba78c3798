#include "webclient/FileScanWebClient.h"

#include <windows.h>

#include <optional>

#include "platform/Deadline.h"
#include "platform/Handles.h"
#include "services/Services.h"
#include "webclient/FileScanPort.h"

namespace {

// UTF-16 to UTF-8, refusing text that is not valid UTF-16 (a lone surrogate).
std::string StrictUtf8(const std::wstring& AText) {
    if (AText.empty())
        return {};
    const int size =
        ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, AText.data(),
                              static_cast<int>(AText.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, AText.data(),
                          static_cast<int>(AText.size()), result.data(), size, nullptr, nullptr);
    return result;
}

constexpr const wchar_t* FileScanServiceName = L"QVScannerService";

// A service may report itself running a little before it listens, and on
// Windows a connect to a loopback port where nothing listens takes about 2 s
// to be refused. While the service is running or starting, a refused
// connection is tried again for this long; a command that reached the
// service is never sent again.
constexpr DWORD RefusedRetryTime = 10000;
constexpr DWORD RefusedRetryPause = 200;

bool SendCommand(const char* APath) {
    TFileScanURL url;
    url.SetPath(APath);
    std::string body;
    uint32_t status = 0;
    const TDeadline retryEnd(RefusedRetryTime);
    while (!url.RetrieveSynapse(body, status)) {
        if (!url.ConnectRefused() || retryEnd.Remaining() == 0 ||
            !ServiceComingUp(FileScanServiceName))
            return false;
        ::Sleep(RefusedRetryPause);
    }
    return status == 200;
}

} // namespace

int32_t FileScanServicePort() {
    std::optional<uint32_t> stored;
    TRegKey key;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                        L"SYSTEM\\CurrentControlSet\\services\\QVScannerService", 0, KEY_READ,
                        key.addressof()) == ERROR_SUCCESS &&
        ::RegQueryValueExW(key.get(), L"ServiceWebPortFileScanner", nullptr, &type,
                           reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(value))
        stored = value;
    return FileScanPortFromStored(stored);
}

uint32_t TFileScanURL::GetDefaultPort() const {
    return static_cast<uint32_t>(FileScanServicePort());
}

void TFileScanURL::SetFilename(const std::wstring& AFilename) {
    SetParameter("filename", URLEncode(StrictUtf8(AFilename)));
}

void TFileScanURL::AddProcessID(uint32_t AID) {
    SetParameter("pid", std::to_string(AID));
}

void TFileScanURL::AddCurrentProcessID() {
    AddProcessID(::GetCurrentProcessId());
}

bool WebServiceLPActivate() {
    return SendCommand("lpactivate");
}

bool WebServiceInject() {
    return SendCommand("inject");
}

bool WebServiceUninject() {
    return SendCommand("uninject");
}
