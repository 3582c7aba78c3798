#include "tests/automation/LoopbackServer.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "platform/ProgramPath.h"
#include "platform/WinText.h"
#include "tests/automation/WinHttpHandle.h"

namespace {

std::wstring Quoted(const std::wstring& AText) {
    return L"\"" + AText + L"\"";
}

void RequestShutdown(uint16_t APort, bool ASecure) {
    TWinHttpHandle session(::WinHttpOpen(L"loopback-test", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return;
    ::WinHttpSetTimeouts(session.get(), 2000, 2000, 2000, 2000);
    TWinHttpHandle connection(::WinHttpConnect(session.get(), L"127.0.0.1", APort, 0));
    TWinHttpHandle request(connection ? ::WinHttpOpenRequest(connection.get(), L"GET", L"/shutdown",
                                                             nullptr, WINHTTP_NO_REFERER,
                                                             WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                             ASecure ? WINHTTP_FLAG_SECURE : 0)
                                      : nullptr);
    if (request && ::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                        WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        ::WinHttpReceiveResponse(request.get(), nullptr);
}

// The Unix process id of this Wine process: the first field of its
// /proc/self/stat, which Wine opens in the process itself. 0 when unknown.
unsigned long UnixProcessId() {
    std::ifstream stat("Z:\\proc\\self\\stat");
    unsigned long pid = 0;
    return stat >> pid ? pid : 0;
}

} // namespace

std::wstring MakeTestFolder(const std::wstring& AName) {
    const std::wstring folder = ProgramFolder() + L"testdata\\" + AName + L"\\";
    ::CreateDirectoryW((ProgramFolder() + L"testdata").c_str(), nullptr);
    // Start empty: remove what an earlier run left (files only, one level).
    WIN32_FIND_DATAW found;
    const TFindHandle search(::FindFirstFileW((folder + L"*").c_str(), &found));
    for (BOOL more = static_cast<bool>(search); more; more = ::FindNextFileW(search.get(), &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ::DeleteFileW((folder + found.cFileName).c_str());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

TLoopbackServer::TLoopbackServer(const TLoopbackServerOptions& AOptions) : FOptions(AOptions) {
    static LONG serial = 0;
    const std::wstring name = ProgramFolder() + L"loopback-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::InterlockedIncrement(&serial));
    FPortFile = name + L".port";
    FOutputFile = name + L".out";
    ::DeleteFileW(FPortFile.c_str());
    ::DeleteFileW(FOutputFile.c_str());

    std::wstring commandLine = L"/usr/bin/python3 " +
                               Quoted(UnixPathOf(ProgramFolder() + L"loopback_server.py")) +
                               L" --lifetime 600 --port-file " + Quoted(UnixPathOf(FPortFile)) +
                               L" --output " + Quoted(UnixPathOf(FOutputFile));
    if (!FOptions.Root.empty())
        commandLine += L" --root " + Quoted(UnixPathOf(FOptions.Root));
    if (!FOptions.Log.empty())
        commandLine += L" --log " + Quoted(UnixPathOf(FOptions.Log));
    if (const unsigned long pid = UnixProcessId())
        commandLine += L" --parent-pid " + std::to_wstring(pid);
    if (!FOptions.FilesPath.empty())
        commandLine += L" --files-path " + Quoted(AnsiToWide(FOptions.FilesPath));
    if (FOptions.SlowSeconds > 0)
        commandLine += L" --slow " + std::to_wstring(FOptions.SlowSeconds);
    if (FOptions.TrickleSeconds > 0)
        commandLine += L" --trickle " + std::to_wstring(FOptions.TrickleSeconds);
    if (!FOptions.Mode.empty())
        commandLine += L" --mode " + AnsiToWide(FOptions.Mode);
    if (FOptions.Port != 0)
        commandLine += L" --port " + std::to_wstring(FOptions.Port);
    if (FOptions.OtherStatus != 0)
        commandLine += L" --other-status " + std::to_wstring(FOptions.OtherStatus);
    if (!FOptions.CertFile.empty())
        commandLine += L" --cert " + Quoted(UnixPathOf(FOptions.CertFile)) + L" --key " +
                       Quoted(UnixPathOf(FOptions.KeyFile));

    // Wine starts a Unix program named by its Unix path.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        throw std::runtime_error("the loopback server did not start: " +
                                 std::to_string(::GetLastError()));
    TKernelHandle thread(process.hThread);
    FProcess.reset(process.hProcess);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream file(FPortFile.c_str());
        unsigned port = 0;
        if (file >> port && port != 0) {
            FPort = static_cast<uint16_t>(port);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream output(FOutputFile.c_str());
    throw std::runtime_error("the loopback server did not report its port: " +
                             std::string(std::istreambuf_iterator<char>(output), {}));
}

TLoopbackServer::~TLoopbackServer() {
    if (FPort != 0 && FOptions.Mode.empty())
        RequestShutdown(FPort, Https());
    ::DeleteFileW(FPortFile.c_str());
    // What the server said stays for whoever looks into it; silence goes.
    WIN32_FILE_ATTRIBUTE_DATA output{};
    if (::GetFileAttributesExW(FOutputFile.c_str(), GetFileExInfoStandard, &output) &&
        output.nFileSizeLow == 0 && output.nFileSizeHigh == 0)
        ::DeleteFileW(FOutputFile.c_str());
}
