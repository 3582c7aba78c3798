#include "tests/automation/Automation.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "platform/ProgramPath.h"

namespace {

constexpr const wchar_t* MainWindowClass = L"TFormDERodos";
constexpr const wchar_t* DialogClass = L"#32770";

struct TFindData {
    DWORD ProcessId;
    const wchar_t* ClassName;
    bool VisibleOnly;
    HWND Found;
};

BOOL CALLBACK FindTopLevel(HWND AWnd, LPARAM AData) {
    auto* data = reinterpret_cast<TFindData*>(AData);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(AWnd, &processId);
    if (processId != data->ProcessId)
        return TRUE;
    wchar_t className[64] = {};
    ::GetClassNameW(AWnd, className, 64);
    if (::lstrcmpW(className, data->ClassName) != 0)
        return TRUE;
    if (data->VisibleOnly && !::IsWindowVisible(AWnd))
        return TRUE;
    data->Found = AWnd;
    return FALSE;
}

HWND FindTopLevelOf(DWORD AProcessId, const wchar_t* AClass, bool AVisibleOnly) {
    TFindData data{AProcessId, AClass, AVisibleOnly, nullptr};
    ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&data));
    return data.Found;
}

struct TChildSearch {
    std::wstring Caption;
    HWND Found;
};

BOOL CALLBACK FindChild(HWND AWnd, LPARAM AData) {
    auto* search = reinterpret_cast<TChildSearch*>(AData);
    if (RemoteWindowText(AWnd) == search->Caption) {
        search->Found = AWnd;
        return FALSE;
    }
    return TRUE;
}

template <typename Predicate>
bool WaitUntil(std::chrono::milliseconds ATimeout, Predicate APredicate) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
        if (APredicate())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
}

struct TWindowList {
    const wchar_t* ClassName;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTopLevel(HWND AWnd, LPARAM AData) {
    auto* list = reinterpret_cast<TWindowList*>(AData);
    wchar_t className[64] = {};
    ::GetClassNameW(AWnd, className, 64);
    if (::lstrcmpW(className, list->ClassName) == 0 && ::IsWindowVisible(AWnd))
        list->Found.push_back(AWnd);
    return TRUE;
}

std::vector<HWND> VisibleTopLevels(const wchar_t* AClass) {
    TWindowList list{AClass, {}};
    ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&list));
    return list.Found;
}

// The window shows before its thread is back in the message loop. A thread
// that has not looked at its queue for five seconds (a long show event) counts
// as hung until it does, and a read with SMTO_ABORTIFHUNG would come back
// empty: a message that must be answered tells when the loop runs.
void WaitUntilIdle(HWND AWindow, std::chrono::steady_clock::time_point ADeadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        ADeadline - std::chrono::steady_clock::now());
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(AWindow, WM_NULL, 0, 0, SMTO_NORMAL,
                          static_cast<UINT>(std::max<long long>(left.count(), 1000)), &ignored);
}

std::wstring ProcessImage(HANDLE AProcess) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD length = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(AProcess, 0, path, &length))
        return {};
    return std::wstring(path, length);
}

} // namespace

namespace {

struct TWindowCount {
    DWORD ProcessId;
    int Count;
};

BOOL CALLBACK CountVisibleOf(HWND AWnd, LPARAM AData) {
    auto* count = reinterpret_cast<TWindowCount*>(AData);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(AWnd, &processId);
    if (processId == count->ProcessId && ::IsWindowVisible(AWnd))
        ++count->Count;
    return TRUE;
}

// An inheritable file for a child's standard stream, deleted when closed.
TFileHandle CaptureFile(const std::wstring& APath) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return TFileHandle(::CreateFileW(
        APath.c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

std::string ReadFromStart(HANDLE AFile) {
    ::SetFilePointer(AFile, 0, nullptr, FILE_BEGIN);
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(AFile, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

} // namespace

TCompletedRun RunToCompletion(const std::wstring& AProgram, const std::wstring& AArguments,
                              std::chrono::milliseconds ATimeout) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring stem =
        std::wstring(temp) + L"run-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
    TFileHandle output = CaptureFile(stem + L"out");
    TFileHandle error = CaptureFile(stem + L"err");
    if (!output || !error)
        throw std::runtime_error("no capture files: " + std::to_string(::GetLastError()));

    std::wstring commandLine = L"\"" + AProgram + L"\" " + AArguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = error.get();
    PROCESS_INFORMATION process{};
    const std::wstring folder = ExtractFilePath(AProgram);
    if (!::CreateProcessW(AProgram.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          folder.c_str(), &startup, &process))
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
    TKernelHandle thread(process.hThread);
    TKernelHandle child(process.hProcess);

    TCompletedRun run;
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (::WaitForSingleObject(child.get(), 10) == WAIT_TIMEOUT) {
        TWindowCount count{process.dwProcessId, 0};
        ::EnumWindows(CountVisibleOf, reinterpret_cast<LPARAM>(&count));
        run.WindowsSeen = std::max(run.WindowsSeen, count.Count);
        if (std::chrono::steady_clock::now() >= deadline) {
            ::TerminateProcess(child.get(), STILL_ACTIVE);
            ::WaitForSingleObject(child.get(), 10000);
            return run;
        }
    }
    ::GetExitCodeProcess(child.get(), &run.ExitCode);
    run.Output = ReadFromStart(output.get());
    run.Error = ReadFromStart(error.get());
    return run;
}

std::wstring RemoteWindowText(HWND AWindow) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(AWindow, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(AWindow, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 10000, &copied);
    text.resize(copied);
    return text;
}

std::vector<std::wstring> SplitLogLines(const std::wstring& AText) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < AText.size()) {
        const size_t end = AText.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            lines.push_back(AText.substr(start));
            break;
        }
        lines.push_back(AText.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::wstring TestProgramFolder() {
    return ProgramFolder();
}

TAutomatedTool::TAutomatedTool(const std::wstring& AProgram, const std::wstring& AArguments,
                               const std::wstring& AWorkingFolder) {
    std::wstring commandLine = L"\"" + AProgram + L"\"";
    if (!AArguments.empty())
        commandLine += L" " + AArguments;
    const std::wstring folder = AWorkingFolder.empty() ? ExtractFilePath(AProgram) : AWorkingFolder;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    FLaunchTime = std::chrono::steady_clock::now();
    if (!::CreateProcessW(AProgram.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
    TKernelHandle thread(process.hThread);
    FProcess.reset(process.hProcess);
    FProcessId = process.dwProcessId;
}

TAutomatedTool::TAutomatedTool(TKernelHandle AProcess, DWORD AProcessId, HWND AMainWindow)
    : FLaunchTime(std::chrono::steady_clock::now()), FProcess(std::move(AProcess)),
      FProcessId(AProcessId), FMainWindow(AMainWindow) {}

std::unique_ptr<TAutomatedTool> TAutomatedTool::FindStarted(const std::wstring& AProgram,
                                                            std::chrono::milliseconds ATimeout) {
    std::unique_ptr<TAutomatedTool> found;
    WaitUntil(ATimeout, [&] {
        for (HWND window : VisibleTopLevels(MainWindowClass)) {
            DWORD processId = 0;
            ::GetWindowThreadProcessId(window, &processId);
            TKernelHandle process(
                ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE,
                              FALSE, processId));
            if (process &&
                ::lstrcmpiW(ProcessImage(process.get()).c_str(), AProgram.c_str()) == 0) {
                WaitUntilIdle(window, std::chrono::steady_clock::now() + ATimeout);
                found.reset(new TAutomatedTool(std::move(process), processId, window));
                return true;
            }
        }
        return false;
    });
    return found;
}

// A click sent on a thread of its own, which returns once the button's
// handler has returned, message boxes included. A press that has not returned
// within ten seconds when it goes (the tool hangs) is left to the test
// program's end; it only signals its own event, which it shares.
class TAutomatedTool::TPress {
public:
    explicit TPress(HWND AButton)
        : FDone(NewEvent()), FThread([done = FDone, AButton] {
              ::SendMessageW(AButton, BM_CLICK, 0, 0);
              ::SetEvent(done->get());
          }) {}
    TPress(const TPress&) = delete;
    TPress& operator=(const TPress&) = delete;
    ~TPress() {
        if (Ended(10000))
            FThread.join();
        else
            FThread.detach();
    }

    bool Ended(DWORD AWaitMs = 0) const {
        return ::WaitForSingleObject(FDone->get(), AWaitMs) == WAIT_OBJECT_0;
    }

private:
    static std::shared_ptr<const TKernelHandle> NewEvent() {
        auto event =
            std::make_shared<const TKernelHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!*event)
            throw std::runtime_error("no event for the press: " + std::to_string(::GetLastError()));
        return event;
    }

    std::shared_ptr<const TKernelHandle> FDone;
    std::jthread FThread;
};

TAutomatedTool::~TAutomatedTool() {
    if (FProcess && ::WaitForSingleObject(FProcess.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(FProcess.get(), 255);
        ::WaitForSingleObject(FProcess.get(), 10000);
    }
    FPress.reset();
}

double TAutomatedTool::SecondsSinceLaunch() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - FLaunchTime).count();
}

HWND TAutomatedTool::WaitForMainWindow(std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    WaitUntil(ATimeout, [&] {
        FMainWindow = FindTopLevelOf(FProcessId, MainWindowClass, true);
        return FMainWindow != nullptr || ::WaitForSingleObject(FProcess.get(), 0) == WAIT_OBJECT_0;
    });
    if (FMainWindow)
        WaitUntilIdle(FMainWindow, deadline);
    return FMainWindow;
}

HWND TAutomatedTool::Control(const std::wstring& ACaption) const {
    TChildSearch search{ACaption, nullptr};
    if (FMainWindow)
        ::EnumChildWindows(FMainWindow, FindChild, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND TAutomatedTool::Memo() const {
    return FMainWindow ? ::GetDlgItem(FMainWindow, 100) : nullptr;
}

std::wstring TAutomatedTool::LogText() const {
    return RemoteWindowText(Memo());
}

std::vector<std::wstring> TAutomatedTool::LogLines() const {
    return SplitLogLines(LogText());
}

void PostClick(HWND AButton) {
    const LPARAM inside = MAKELPARAM(2, 2);
    ::PostMessageW(AButton, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    ::PostMessageW(AButton, WM_LBUTTONUP, 0, inside);
}

std::optional<TMessageBoxInfo> TAutomatedTool::FindMessageBox() const {
    HWND box = FindTopLevelOf(FProcessId, DialogClass, true);
    if (!box)
        return std::nullopt;
    TMessageBoxInfo info;
    info.Handle = box;
    info.Caption = RemoteWindowText(box);
    // The message text is the box's static control 0xFFFF.
    if (HWND text = ::GetDlgItem(box, 0xFFFF))
        info.Text = RemoteWindowText(text);
    return info;
}

std::optional<TMessageBoxInfo>
TAutomatedTool::WaitForMessageBox(std::chrono::milliseconds ATimeout) {
    std::optional<TMessageBoxInfo> box;
    WaitUntil(ATimeout, [&] {
        box = FindMessageBox();
        return box.has_value() || ::WaitForSingleObject(FProcess.get(), 0) == WAIT_OBJECT_0;
    });
    return box;
}

std::optional<TMessageBoxInfo> TAutomatedTool::WaitForPress(std::chrono::milliseconds ATimeout) {
    std::optional<TMessageBoxInfo> box;
    WaitUntil(ATimeout, [&] {
        if (FPress->Ended())
            return true;
        box = FindMessageBox();
        return box.has_value();
    });
    if (!box && !FPress->Ended())
        throw std::runtime_error("the press did not complete in time");
    return box;
}

std::optional<TMessageBoxInfo> TAutomatedTool::Press(const std::wstring& ACaption,
                                                     std::chrono::milliseconds ATimeout) {
    Click(ACaption);
    return WaitForPress(ATimeout);
}

void TAutomatedTool::Click(const std::wstring& ACaption) {
    HWND button = Control(ACaption);
    if (!button)
        throw std::runtime_error("no such button");
    if (FPress) {
        FPress->Ended(INFINITE);
        FPress.reset();
    }
    FPress = std::make_unique<TPress>(button);
}

bool TAutomatedTool::PressPending() const {
    return FPress && !FPress->Ended();
}

void TAutomatedTool::Kill() {
    ::TerminateProcess(FProcess.get(), 255);
    ::WaitForSingleObject(FProcess.get(), 10000);
    // The click returns once its window is gone.
    FPress.reset();
}

std::optional<TMessageBoxInfo> TAutomatedTool::Answer(const TMessageBoxInfo& ABox, int AButton,
                                                      std::chrono::milliseconds ATimeout) {
    ::PostMessageW(ABox.Handle, WM_COMMAND, MAKEWPARAM(AButton, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(ABox.Handle, AButton)));
    WaitUntil(10s, [&] { return !::IsWindow(ABox.Handle); });
    if (!FPress)
        return std::nullopt;
    return WaitForPress(ATimeout);
}

DWORD TAutomatedTool::WaitForExit(std::chrono::milliseconds ATimeout) {
    if (::WaitForSingleObject(FProcess.get(), static_cast<DWORD>(ATimeout.count())) !=
        WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD exitCode = STILL_ACTIVE;
    ::GetExitCodeProcess(FProcess.get(), &exitCode);
    return exitCode;
}

DWORD TAutomatedTool::Close(std::chrono::milliseconds ATimeout) {
    if (FMainWindow)
        ::PostMessageW(FMainWindow, WM_CLOSE, 0, 0);
    return WaitForExit(ATimeout);
}
