#include "tests/automation/ScannerProcess.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/HandleIO.h"
#include "platform/WinText.h"

namespace {

std::wstring TempFile(const std::wstring& AName) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    static std::atomic<int> count{0};
    return std::wstring(temp) + L"scanner-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(count++) + L"-" + AName;
}

} // namespace

TScannerProcess::TScannerProcess(const std::wstring& AProgram, const std::wstring& AFolder,
                                 const TScannerOptions& AOptions)
    : FReady(TempFile(L"ready")), FLog(TempFile(L"held.log")) {
    ::DeleteFileW(FReady.c_str());
    ::DeleteFileW(FLog.c_str());
    std::wstring folder = AFolder;
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    std::wstring commandLine = L"\"" + AProgram + L"\" \"" + folder + L"\" " +
                               std::to_wstring(AOptions.HoldMs) +
                               (AOptions.ShareRead ? L" read" : L" none") + L" --ready \"" +
                               FReady + L"\" --log \"" + FLog + L"\"";
    if (!AOptions.Quarantine.empty())
        commandLine += L" --quarantine \"" + AOptions.Quarantine + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(AProgram.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
        throw std::runtime_error("the scanner did not start: " + std::to_string(::GetLastError()));
    const TKernelHandle thread(process.hThread);
    FProcess.reset(process.hProcess);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (::GetFileAttributesW(FReady.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (std::chrono::steady_clock::now() > deadline ||
            ::WaitForSingleObject(FProcess.get(), 0) == WAIT_OBJECT_0)
            throw std::runtime_error("the scanner does not watch " + WideToUtf8(AFolder));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TScannerProcess::~TScannerProcess() {
    ::TerminateProcess(FProcess.get(), 0);
    ::WaitForSingleObject(FProcess.get(), 10000);
    ::DeleteFileW(FReady.c_str());
    ::DeleteFileW(FLog.c_str());
}

// Its log: a line for each file as it is opened, "<name> held", and for the
// one it quarantined, "<name> quarantined".
std::vector<std::wstring> TScannerProcess::LogLines() const {
    const TFileHandle log(::CreateFileW(FLog.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (log)
        ReadAll(log.get(), bytes);
    std::vector<std::wstring> lines;
    const std::wstring text = Utf8ToWide(bytes);
    for (size_t start = 0, end = 0; (end = text.find(L'\n', start)) != std::wstring::npos;
         start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::wstring> TScannerProcess::Held() const {
    std::vector<std::wstring> held;
    for (const std::wstring& line : LogLines())
        if (line.ends_with(L" held"))
            held.push_back(line.substr(0, line.size() - 5));
    return held;
}

std::wstring TScannerProcess::QuarantinedFile() const {
    for (const std::wstring& line : LogLines())
        if (line.ends_with(L" quarantined"))
            return line.substr(0, line.size() - 12);
    return {};
}
