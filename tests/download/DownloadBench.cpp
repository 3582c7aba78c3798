// downloadbench stream|raw <url>: BENCHMARK ONLY. Downloads <url> once, either
// with DownloadToStream into a memory stream or with a bare WinINet loop of
// the same flags and 4096-byte reads into a buffer sized for the body before
// the first read (what the platform allows at best), and prints the
// throughput, the body's size and the process's peak memory, as
// "<name>.mib_s: ", "<name>.body_mib: " and "<name>.peak_mib: " lines.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "download/InternetRules.h"
#include "download/DownloadRunner.h"
#include "download/WinINet.h"
#include "platform/WinText.h"

namespace {

// The bare loop: open, connect, request, then reads straight into place.
bool RawDownload(const std::string& AURL, size_t& ASize) {
    std::string server, path;
    uint32_t port = 80;
    bool ssl = false;
    ApplyURLScheme(AURL, port, ssl);
    if (!SplitURL(AURL, server, path))
        return false;
    const THostPort target = ServerHostPort(server, port);
    TInternetHandle internet(
        ::InternetOpenA("vxnWinAPIWinINet", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    TInternetHandle connection(internet ? ::InternetConnectA(internet.get(), target.Host.c_str(),
                                                             target.Port, nullptr, nullptr,
                                                             INTERNET_SERVICE_HTTP, 0, 0)
                                        : nullptr);
    const DWORD flags =
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII | (ssl ? INTERNET_FLAG_SECURE : 0);
    TInternetHandle request(connection ? ::HttpOpenRequestA(connection.get(), nullptr, path.c_str(),
                                                            nullptr, nullptr, nullptr, flags, 0)
                                       : nullptr);
    if (!request || !::HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0))
        return false;
    char text[32] = {};
    DWORD size = sizeof(text);
    if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return false;
    const TDecimal length = ParseDecimal(std::string_view(text, size));
    if (!length.Valid || length.Value <= 0)
        return false;
    std::vector<char> body(static_cast<size_t>(length.Value) + 4096);
    ASize = 0;
    for (;;) {
        DWORD read = 0;
        if (!::InternetReadFile(request.get(), body.data() + ASize, 4096, &read))
            return false;
        if (read == 0)
            break;
        ASize += read;
        if (ASize + 4096 > body.size())
            return false;
    }
    return ASize == static_cast<size_t>(length.Value);
}

double PeakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const std::wstring mode = argv[1];
    const std::string url = WideToAnsi(argv[2]);
    WinINetStartUp();

    const auto start = std::chrono::steady_clock::now();
    size_t size = 0;
    bool ok = false;
    if (mode == L"stream") {
        TMemoryStream stream;
        int32_t code = 0;
        ok = DownloadToStream(AnsiToWide(url), stream, code);
        size = static_cast<size_t>(stream.Size());
    } else if (mode == L"raw") {
        ok = RawDownload(url, size);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok)
        return 1;
    const char* name = mode == L"stream" ? "download" : "wininet_raw";
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf("%s.mib_s: %.1f\n%s.body_mib: %.0f\n%s.peak_mib: %.1f\n", name, mib / seconds, name,
                mib, name, PeakMiB());
    return 0;
}
