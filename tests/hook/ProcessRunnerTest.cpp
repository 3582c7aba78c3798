// The process runner against a real console program: the fixture tool, steered
// by the files beside its copy.
#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "hook/ProcessRunner.h"
#include "platform/WinText.h"
#include "tests/support/TestFiles.h"

namespace {

class ProcessRunner : public testing::Test {
protected:
    TScratchFolder FFolder;
    std::wstring FTool = FFolder.Copy(FixturePath(L"drivertools\\signtool.exe"), L"tool.exe");
};

TEST_F(ProcessRunner, TheExitCodeAndBothStreamsComeBackSeparately) {
    FFolder.Write(L"tool.exitcodes", "0 1 42 3221225477");
    const DWORD exitCodes[] = {0, 1, 42, 0xC0000005};
    for (size_t i = 0; i < std::size(exitCodes); ++i) {
        const TProcessRun run = RunProcess(FTool, L"sign \"a file\"");
        EXPECT_TRUE(run.Started);
        EXPECT_EQ(run.ExitCode, exitCodes[i]);
        EXPECT_EQ(run.ErrorCode, 0u);
        const std::wstring call = std::to_wstring(i + 1);
        EXPECT_EQ(run.Output, std::vector<std::wstring>{L"tool: output of call " + call});
        EXPECT_EQ(run.Errors, std::vector<std::wstring>{L"tool: errors of call " + call});
    }
}

TEST_F(ProcessRunner, TheCommandLineIsTheQuotedPathAndTheParameters) {
    RunProcess(FTool, L"sign /d \"Vexlo On Access\" C:\\x.sys");
    RunProcess(FTool, L"");
    const std::string path = WideToUtf8(FTool);
    EXPECT_EQ(ReadWholeFile(FFolder.Path() + L"tool.calls"),
              "\"" + path + "\" sign /d \"Vexlo On Access\" C:\\x.sys\n\"" + path + "\" \n");
}

// A child that writes more than a pipe holds to both streams, in turns,
// stalls for good unless both are read at the same time.
TEST_F(ProcessRunner, AChildFillingBothPipesRunsToItsEnd) {
    const unsigned lines = 100000;
    FFolder.Write(L"tool.flood", std::to_string(lines));
    const TProcessRun run = RunProcess(FTool, L"");
    EXPECT_EQ(run.ExitCode, 0u);
    ASSERT_EQ(run.Output.size(), lines);
    ASSERT_EQ(run.Errors.size(), lines);
    EXPECT_EQ(run.Output.front(), L"output line 1");
    EXPECT_EQ(run.Output.back(), L"output line " + std::to_wstring(lines));
    EXPECT_EQ(run.Errors.back(), L"error line " + std::to_wstring(lines));
}

TEST_F(ProcessRunner, AProgramThatCannotBeStartedGivesItsOwnExitCodeAndTheError) {
    const struct {
        const char* Name;
        std::wstring Program;
        DWORD ErrorCode;
    } cases[] = {
        {"missing", FFolder.Path() + L"missing.exe", ERROR_FILE_NOT_FOUND},
        {"in a missing folder", FFolder.Path() + L"missing\\tool.exe", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        const TProcessRun run = RunProcess(row.Program, L"");
        EXPECT_FALSE(run.Started);
        EXPECT_EQ(run.ExitCode, ProcessNotStarted);
        EXPECT_EQ(run.ErrorCode, row.ErrorCode);
        EXPECT_TRUE(run.Output.empty());
        EXPECT_TRUE(run.Errors.empty());
    }
    // Not a program at all: it does not start, whatever the system calls it.
    const TProcessRun text = RunProcess(FFolder.Write(L"text.exe", "not a program"), L"");
    EXPECT_FALSE(text.Started);
    EXPECT_EQ(text.ExitCode, ProcessNotStarted);
    EXPECT_NE(text.ErrorCode, 0u);
}

TEST(ProcessOutput, SplitsAtLineFeedsDropsTheirCarriageReturnsKeepsALastLine) {
    const struct {
        const char* Output;
        std::vector<std::wstring> Lines;
    } cases[] = {
        {"", {}},
        {"one", {L"one"}},
        {"one\n", {L"one"}},
        {"one\r\ntwo\r\n", {L"one", L"two"}},
        {"one\n\ntwo", {L"one", L"", L"two"}},
        {"\r\n", {L""}},
        {"a\rb\n", {L"a\rb"}},
        {"a\r\r\n", {L"a\r"}},
    };
    for (const auto& row : cases)
        EXPECT_EQ(OutputLines(row.Output), row.Lines) << row.Output;
}

} // namespace
