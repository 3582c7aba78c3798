// What each program makes of its command line, against the switches the
// tool declares.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLineUse.h"
#include "app/ReportMode.h"
#include "diagnostics/CommandLineParameters.h"
#include "platform/WinText.h"

namespace {

class CommandLineUse : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CommandLineParametersStartUp();
        ReportParametersStartUp();
    }
    static void TearDownTestSuite() { CommandLineParametersShutDown(); }

    static TCommandLineDecision Decide(const std::vector<std::wstring>& AArguments, bool AConsole) {
        return DecideCommandLine(AArguments, AConsole, [](const std::wstring& AArgument) {
            return CommandLineParameters().Declares(AArgument);
        });
    }
};

struct TUseCase {
    std::vector<std::wstring> Arguments;
    TCommandLineUse Window;  // in the windowed program
    TCommandLineUse Console; // in the console twin
    std::wstring Path;
    bool Json;
};

TEST_F(CommandLineUse, EachCommandLineGetsItsUseInEitherProgram) {
    const std::vector<TUseCase> cases = {
        {{}, cuWindow, cuRefused, L"", false},
        {{L"/verbose"}, cuWindow, cuRefused, L"", false},
        {{L"/unknown", L"bare"}, cuWindow, cuRefused, L"", false},
        {{L"/help"}, cuHelp, cuHelp, L"", false},
        {{L"/?"}, cuHelp, cuHelp, L"", false},
        {{L"-MAN"}, cuHelp, cuHelp, L"", false},
        {{L"/report:x", L"/help"}, cuHelp, cuHelp, L"", false},
        {{L"/report:C:\\r.txt"}, cuReport, cuReport, L"C:\\r.txt", false},
        {{L"/JSON", L"-Report:-"}, cuReport, cuReport, L"-", true},
        {{L"/report:-", L"/verbose", L"/silent"}, cuReport, cuReport, L"-", false},
        {{L"/report:"}, cuReport, cuReport, L"", false}, // refused by the report itself
        {{L"/report", L"x"}, cuRefused, cuRefused, L"", false},
        {{L"/report=x"}, cuRefused, cuRefused, L"", false},
        {{L"--report:x"}, cuRefused, cuRefused, L"", false},
        {{L"/reports:x"}, cuRefused, cuRefused, L"", false},
        {{L"/json"}, cuRefused, cuRefused, L"", false},
        {{L"/report:-", L"/jsno"}, cuRefused, cuRefused, L"", false},
        {{L"/report:-", L"x"}, cuRefused, cuRefused, L"", false},
        {{L"/", L"-"}, cuWindow, cuRefused, L"", false},
    };
    for (const TUseCase& row : cases) {
        std::wstring line;
        for (const std::wstring& argument : row.Arguments)
            line += argument + L" ";
        SCOPED_TRACE(WideToUtf8(line));
        for (const bool console : {false, true}) {
            const TCommandLineDecision decision = Decide(row.Arguments, console);
            const TCommandLineUse expected = console ? row.Console : row.Window;
            EXPECT_EQ(decision.Use, expected) << (console ? "console" : "window");
            if (expected == cuReport) {
                EXPECT_EQ(decision.Path, row.Path);
                EXPECT_EQ(decision.Json, row.Json);
            }
            // A refusal says what was not understood and how a report is asked for.
            EXPECT_EQ(decision.Refusal.empty(), expected != cuRefused);
            if (expected == cuRefused) {
                EXPECT_NE(decision.Refusal.find(L"/report:<file>"), std::wstring::npos);
                EXPECT_EQ(decision.Refusal.find(L'\n'), std::wstring::npos);
            }
        }
    }
}

} // namespace
