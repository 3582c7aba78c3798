// Drives the tool's real window from a second process, as a user would: start
// it, wait for its window, read the log, press buttons, answer message boxes,
// close it and collect its exit code. Used by the end-to-end tests and by the
// automate program behind scripts/run.
#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Handles.h"

using namespace std::chrono_literals;

struct TMessageBoxInfo {
    HWND Handle = nullptr;
    std::wstring Caption;
    std::wstring Text;
};

class TAutomatedTool {
public:
    // Starts AProgram with AArguments in AWorkingFolder (its own folder when empty).
    TAutomatedTool(const std::wstring& AProgram, const std::wstring& AArguments = L"",
                   const std::wstring& AWorkingFolder = L"");
    TAutomatedTool(const TAutomatedTool&) = delete;
    TAutomatedTool& operator=(const TAutomatedTool&) = delete;
    // Ends the tool if a test left it running.
    ~TAutomatedTool();

    // Takes over a tool that something else started: the process of
    // AProgram (its full path) once its main window is visible. Null when
    // none has shown it within ATimeout.
    static std::unique_ptr<TAutomatedTool> FindStarted(const std::wstring& AProgram,
                                                       std::chrono::milliseconds ATimeout = 60s);

    DWORD ProcessId() const { return FProcessId; }
    // Seconds since the tool was started.
    double SecondsSinceLaunch() const;

    // Waits until the main window is visible (the start-up report is then
    // complete). Returns null on time-out or when the process ended first.
    HWND WaitForMainWindow(std::chrono::milliseconds ATimeout = 60s);
    HWND MainWindow() const { return FMainWindow; }

    // The log as lines (each line of the log ends with a line break).
    std::vector<std::wstring> LogLines() const;
    std::wstring LogText() const;
    HWND Control(const std::wstring& ACaption) const;
    HWND Memo() const;

    // Presses the button with ACaption and waits until its handler has
    // returned or a message box of the tool has come up, whichever is first.
    // Returns the box, if one came up; the press completes once it is answered.
    std::optional<TMessageBoxInfo> Press(const std::wstring& ACaption,
                                         std::chrono::milliseconds ATimeout = 120s);
    // Presses the button with ACaption and returns at once, while its
    // handler runs.
    void Click(const std::wstring& ACaption);
    // True while the handler of the last press or click still runs.
    bool PressPending() const;
    // Ends the tool at once, as a crash or a power loss would, wherever it is.
    void Kill();
    // Waits for a message box of the tool.
    std::optional<TMessageBoxInfo> WaitForMessageBox(std::chrono::milliseconds ATimeout = 30s);
    // Answers a box with a button (IDOK, IDYES, IDNO) and waits until a
    // pending press has completed or the next box has come up.
    std::optional<TMessageBoxInfo> Answer(const TMessageBoxInfo& ABox, int AButton,
                                          std::chrono::milliseconds ATimeout = 120s);

    // Asks the window to close and waits for the process; returns its exit
    // code, or STILL_ACTIVE on time-out.
    DWORD Close(std::chrono::milliseconds ATimeout = 30s);
    // Waits for the process to end by itself.
    DWORD WaitForExit(std::chrono::milliseconds ATimeout = 30s);

private:
    TAutomatedTool(TKernelHandle AProcess, DWORD AProcessId, HWND AMainWindow);
    std::optional<TMessageBoxInfo> FindMessageBox() const;
    std::optional<TMessageBoxInfo> WaitForPress(std::chrono::milliseconds ATimeout);

    std::chrono::steady_clock::time_point FLaunchTime;
    TKernelHandle FProcess;
    DWORD FProcessId = 0;
    HWND FMainWindow = nullptr;
    class TPress; // sends the click; ends when the handler has returned
    std::unique_ptr<TPress> FPress;
};

// A program run to its end with its standard output and error caught in files.
struct TCompletedRun {
    DWORD ExitCode = STILL_ACTIVE; // STILL_ACTIVE when it was ended on time-out
    std::string Output;            // the bytes as written
    std::string Error;
    // Visible top-level windows of the program seen while it ran, message
    // boxes included.
    int WindowsSeen = 0;
};
TCompletedRun RunToCompletion(const std::wstring& AProgram, const std::wstring& AArguments,
                              std::chrono::milliseconds ATimeout = 60s);

// Clicks AButton as the mouse does: the button-down and button-up wait in its
// thread's queue until that thread reads them. Returns at once.
void PostClick(HWND AButton);

// Window text of a control in another process (WM_GETTEXT, which works across
// processes where GetWindowTextW does not for child windows).
std::wstring RemoteWindowText(HWND AWindow);
// Splits a log text into its lines; a final line break ends the last line.
std::vector<std::wstring> SplitLogLines(const std::wstring& AText);
// The folder of the running test program, with its trailing "\".
std::wstring TestProgramFolder();
