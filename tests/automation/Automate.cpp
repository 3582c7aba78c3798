// automate: the tool's window driven from the command line, one command after
// the other, for scripts. Output is UTF-8, one line each; lines starting with
// "@" are the program's own, all others are log lines.
//
//   automate launch <program> wait log sync press <caption> answer ok close
//
//   launch <program>   start the program (in its own folder)
//   wait               wait until its window is visible: "@ready"
//   log                print the log, line by line
//   press <caption>    press a button: "@done", or "@box <caption>: <text>"
//   answer ok|yes|no   answer the message box that is up
//   sync               print "@sync" and wait for a line on standard input
//   elapsed            print "@elapsed <seconds since launch>"
//   close              close the window: "@exit <code>"
//   run <program> <arguments>
//                      run a program to its end, its output caught (it may
//                      come first): "@ran <exit code> <seconds>"
// The exit code is the tool's, after close; 2 when a command fails.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/WinText.h"
#include "tests/automation/Automation.h"

namespace {

void WriteOut(const std::wstring& ALine) {
    const std::string bytes = WideToUtf8(ALine) + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                &written, nullptr);
}

void ReadLineIn() {
    char c = 0;
    DWORD read = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &c, 1, &read, nullptr) && read == 1 &&
           c != '\n') {
    }
}

int Fail(const std::wstring& AWhy) {
    WriteOut(L"@error " + AWhy);
    return 2;
}

void ReportBox(const std::optional<TMessageBoxInfo>& ABox) {
    if (ABox)
        WriteOut(L"@box " + ABox->Caption + L": " + ABox->Text);
    else
        WriteOut(L"@done");
}

int ButtonOf(const std::wstring& AName) {
    if (AName == L"yes")
        return IDYES;
    if (AName == L"no")
        return IDNO;
    return IDOK;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::unique_ptr<TAutomatedTool> tool;
    std::optional<TMessageBoxInfo> box;
    int exitCode = 0;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::wstring command = argv[i];
            const bool hasArgument = i + 1 < argc;
            if (command == L"run" && i + 2 < argc) {
                const std::wstring program = argv[++i];
                const std::wstring arguments = argv[++i];
                const auto start = std::chrono::steady_clock::now();
                const TCompletedRun run = RunToCompletion(program, arguments);
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                wchar_t text[64];
                ::swprintf(text, 64, L"@ran %lu %.3f", run.ExitCode, seconds);
                WriteOut(text);
            } else if (command == L"launch" && hasArgument) {
                tool = std::make_unique<TAutomatedTool>(argv[++i]);
            } else if (!tool) {
                return Fail(L"launch must come first");
            } else if (command == L"wait") {
                if (!tool->WaitForMainWindow())
                    return Fail(L"the window did not show");
                WriteOut(L"@ready");
            } else if (command == L"log") {
                for (const std::wstring& line : tool->LogLines())
                    WriteOut(line);
            } else if (command == L"press" && hasArgument) {
                box = tool->Press(argv[++i]);
                ReportBox(box);
            } else if (command == L"answer" && hasArgument) {
                if (!box)
                    box = tool->WaitForMessageBox();
                if (!box)
                    return Fail(L"no message box to answer");
                box = tool->Answer(*box, ButtonOf(argv[++i]));
                ReportBox(box);
            } else if (command == L"elapsed") {
                wchar_t seconds[32];
                ::swprintf(seconds, 32, L"%.3f", tool->SecondsSinceLaunch());
                WriteOut(std::wstring(L"@elapsed ") + seconds);
            } else if (command == L"sync") {
                WriteOut(L"@sync");
                ReadLineIn();
            } else if (command == L"close") {
                const DWORD code = tool->Close();
                WriteOut(L"@exit " + std::to_wstring(code));
                exitCode = static_cast<int>(code);
            } else {
                return Fail(L"unknown command " + command);
            }
        }
    } catch (const std::exception& error) {
        return Fail(Utf8ToWide(error.what()));
    }
    return exitCode;
}
