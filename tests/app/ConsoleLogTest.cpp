#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/ConsoleLog.h"
#include "app/LiveProtectionFiles.h"

namespace {

class TRecordingLog : public TConsoleLog {
public:
    std::vector<std::wstring> Lines;

protected:
    void AppendLine(const std::wstring& ALine) override { Lines.push_back(ALine); }
};

struct TWriterCase {
    const char* Name;
    std::function<void(TConsoleLog&)> Write;
    std::vector<std::wstring> Expected;
};

TEST(ConsoleLog, WritersAppendExactlyTheirLines) {
    const TWriterCase cases[] = {
        {"section is an empty line and the title",
         [](TConsoleLog& log) { log.LogSection(L"State Test"); },
         {L"", L"[ State Test ]"}},
        {"info", [](TConsoleLog& log) { log.LogInfo(L"C:\\Tools\\"); }, {L"[i] C:\\Tools\\"}},
        {"empty info still gives a line", [](TConsoleLog& log) { log.LogInfo(L""); }, {L"[i] "}},
        {"success",
         [](TConsoleLog& log) { log.LogSuccess(L"Service running."); },
         {L"[+] Service running."}},
        {"failure",
         [](TConsoleLog& log) { log.LogFailure(L"Missing file: x"); },
         {L"[-] Missing file: x"}},
        {"result true",
         [](TConsoleLog& log) { log.LogResult(true, L"INSTALLED"); },
         {L"[+] INSTALLED"}},
        {"result false",
         [](TConsoleLog& log) { log.LogResult(false, L"INSTALLED"); },
         {L"[-] INSTALLED"}},
        {"text used as passed: no trimming or splitting",
         [](TConsoleLog& log) { log.LogInfo(L"  two\tparts  "); },
         {L"[i]   two\tparts  "}},
        {"first line of a log opened by a section is empty",
         [](TConsoleLog& log) {
             log.LogSection(L"Windows");
             log.LogInfo(L"Windows Version: x");
         },
         {L"", L"[ Windows ]", L"[i] Windows Version: x"}},
        {"the same writer twice appends twice",
         [](TConsoleLog& log) {
             log.LogFailure(L"STOP");
             log.LogFailure(L"STOP");
         },
         {L"[-] STOP", L"[-] STOP"}},
    };
    for (const TWriterCase& c : cases) {
        TRecordingLog log;
        c.Write(log);
        EXPECT_EQ(log.Lines, c.Expected) << c.Name;
    }
}

TEST(LiveProtectionFiles, TableInIndexOrder) {
    const std::vector<std::wstring> expected = {
        L"QVFSSvc.exe",     L"QVHook32.dll",     L"QVHook64.dll",     L"QVHookDrv32.sys",
        L"QVHookDrv64.sys", L"QVHookHelper.exe", L"QVHookInst32.exe", L"QVHookInst64.exe"};
    EXPECT_EQ(std::vector<std::wstring>(LiveProtectionFiles.begin(), LiveProtectionFiles.end()),
              expected);
    EXPECT_EQ(FirstAlternativeFile, 1u);
}

TEST(LiveProtectionFiles, PathIsProgramFolderAndName) {
    const std::wstring path = LiveProtectionFilePath(2);
    ASSERT_GT(path.size(), std::wstring(L"\\QVHook64.dll").size());
    EXPECT_EQ(path.substr(path.size() - 13), L"\\QVHook64.dll");
}

} // namespace
