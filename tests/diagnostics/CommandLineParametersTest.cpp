#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "diagnostics/CommandLineParameters.h"
#include "platform/Handles.h"
#include "platform/ProgramPath.h"
#include "platform/WinText.h"

namespace {

// A registry fresh from start-up.
class CommandLineParametersTest : public testing::Test {
protected:
    void SetUp() override {
        CommandLineParametersShutDown();
        CommandLineParametersStartUp();
    }
    void TearDown() override { CommandLineParametersShutDown(); }

    static std::vector<std::wstring> HelpPage() {
        std::vector<std::wstring> lines;
        CommandLineParameters().ToLines(lines);
        return lines;
    }
};

const std::vector<std::wstring> StartUpHelpPage = {
    L"",
    L"Basic               ",
    L"  /help                 - shows this page",
    L"  /verbose              - displays more output",
    L"",
    L"Automation              - Options to automate this program",
    L"  /silent               - avoid unnecessary output",
};

TEST(FindCmdLineSwitch, NeedsOneDashOrSlashAndTheWordInAnyCase) {
    struct {
        std::vector<std::wstring> Arguments;
        bool Expected;
    } const cases[] = {
        {{L"-verbose"}, true},       {{L"/VERBOSE"}, true},   {{L"/Verbose"}, true},
        {{L"x", L"/verbose"}, true}, {{L"--verbose"}, false}, {{L"verbose"}, false},
        {{L"/verbosely"}, false},    {{L""}, false},          {{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Arguments.empty() ? L"(none)" : c.Arguments.back()));
        EXPECT_EQ(FindCmdLineSwitch(c.Arguments, L"verbose"), c.Expected);
    }
}

TEST(FindCmdLineValue, TheWordAColonAndEverythingAfterIt) {
    struct {
        std::vector<std::wstring> Arguments;
        std::optional<std::wstring> Expected;
    } const cases[] = {
        {{L"/report:C:\\out\\r.txt"}, L"C:\\out\\r.txt"},
        {{L"-REPORT:-"}, L"-"},
        {{L"/json", L"/report:"}, L""},
        {{L"/report:a:b"}, L"a:b"},
        {{L"/report:first", L"/report:second"}, L"first"},
        {{L"/report"}, std::nullopt},
        {{L"report:x"}, std::nullopt},
        {{L"/reports:x"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Arguments.empty() ? L"(none)" : c.Arguments.back()));
        EXPECT_EQ(FindCmdLineValue(c.Arguments, L"report"), c.Expected);
    }
}

TEST_F(CommandLineParametersTest, MatchesStringStripsOneSlashThenDashes) {
    const TCommandLineParameterItem& help =
        *BasicParameterGroup().Parameters().FindParameterName(L"help");
    struct {
        const wchar_t* Text;
        bool Expected;
    } const cases[] = {
        {L"HELP", true},    {L"/help", true},  {L"--help", true},  {L"-help", true},
        {L"/--help", true}, {L"/-help", true}, {L"-/help", false}, {L"//help", false},
        {L"helpme", false}, {L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Text));
        EXPECT_EQ(help.MatchesString(std::wstring(c.Text)), c.Expected);
    }
    EXPECT_TRUE(help.MatchesString(std::string("/Help")));
}

TEST_F(CommandLineParametersTest, StartUpRegistersTheSevenLineHelpPage) {
    EXPECT_EQ(HelpPage(), StartUpHelpPage);
    EXPECT_EQ(BasicParameterGroup().ItemText(), L"help,verbose");
    EXPECT_EQ(BasicParameterGroup().Necessity(), gnAllOptional);
    EXPECT_EQ(&BasicParameterGroup(), CommandLineParameters().FindGroupName(L"Basic"))
        << "the same group on every call";
}

TEST_F(CommandLineParametersTest, GroupsWithoutParametersAreLeftOut) {
    TCLPGroup& service = CommandLineParameters().Add();
    service.SetGroupName(L"System Service related");
    service.SetNecessity(gnAllOptional);
    EXPECT_EQ(service.ItemText(), L"");
    EXPECT_EQ(HelpPage(), StartUpHelpPage);

    AutomationParameterGroup().Parameters().Clear();
    EXPECT_EQ(HelpPage(),
              std::vector<std::wstring>(StartUpHelpPage.begin(), StartUpHelpPage.begin() + 4));
    EXPECT_EQ(CommandLineParameters().FindGroupName(L"Automation"), &AutomationParameterGroup());
}

TEST_F(CommandLineParametersTest, LongNamesAreNotCut) {
    TCLPGroup& group = CommandLineParameters().Insert(0);
    group.SetGroupName(L"A group name of 24 chars");
    group.AddParameter(L"averyveryverylongswitch", L"d");
    const std::vector<std::wstring> page = HelpPage();
    ASSERT_EQ(page.size(), 10u);
    EXPECT_EQ(page[1], L"A group name of 24 chars");
    EXPECT_EQ(page[2], L"  /averyveryverylongswitch - d");
}

TEST_F(CommandLineParametersTest, SyntaxFollowsTheNameOnlyWhileEmpty) {
    TCommandLineParameterItems items;
    TCommandLineParameterItem& item = items.Add();
    EXPECT_EQ(item.GetDisplayName(), L"TCommandLineParameterItem");
    item.SetParameterName(L"port");
    EXPECT_EQ(item.Syntax(), L"port");
    item.SetSyntax(L"port:<number>");
    item.SetParameterName(L"webport");
    EXPECT_EQ(item.Syntax(), L"port:<number>");
    EXPECT_EQ(item.GetDisplayName(), L"webport");
    EXPECT_EQ(item.Owner(), &items);
}

TEST_F(CommandLineParametersTest, FindsExactlyAndSortsIgnoringCase) {
    TCLPGroup group(nullptr);
    group.AddParameter(L"beta", L"b second");
    group.AddParameter(L"Zeta", L"A first");
    group.AddParameter(L"alpha", L"c third");
    TCommandLineParameterItems& items = group.Parameters();
    EXPECT_EQ(items.FindParameterName(L"zeta"), nullptr) << "case counts when finding";
    EXPECT_EQ(items.FindDescription(L"c third"), &items.Items(2));

    items.SortParameterName();
    EXPECT_EQ(group.ItemText(), L"alpha,beta,Zeta");
    items.SortDescription();
    EXPECT_EQ(group.ItemText(), L"Zeta,beta,alpha");
    items.SortSyntax();
    EXPECT_EQ(items.FindSyntax(L"Zeta"), &items.Items(2));

    TCommandLineParameters& registry = CommandLineParameters();
    registry.SortGroupName();
    EXPECT_EQ(registry.Items(0).GroupName(), L"Automation");
    EXPECT_EQ(registry.FindNecessity(gnAllOptional), &registry.Items(0));
    registry.SortParameters();
    EXPECT_EQ(registry.Items(0).GroupName(), L"Basic") << "help,verbose before silent";
    AutomationParameterGroup().SetNecessity(gnAllMandatory);
    registry.SortNecessity();
    EXPECT_EQ(registry.Items(0).GroupName(), L"Automation");
    EXPECT_EQ(registry.FindParameters(&BasicParameterGroup().Parameters()), &BasicParameterGroup());
    EXPECT_EQ(registry.FindDescription(L"Options to automate this program"),
              &AutomationParameterGroup());
}

TEST_F(CommandLineParametersTest, AssignCopiesAGroupWithItsParameters) {
    TCLPGroup copy(&CommandLineParameters());
    EXPECT_EQ(copy.GetDisplayName(), L"TCLPGroup");
    copy.AddParameter(L"old", L"replaced");
    copy.Assign(BasicParameterGroup());
    EXPECT_EQ(copy.GroupName(), L"Basic");
    EXPECT_EQ(copy.Necessity(), gnAllOptional);
    EXPECT_EQ(copy.ItemText(), L"help,verbose");
    EXPECT_EQ(copy.Parameters().Items(0).Description(), L"shows this page");
    EXPECT_NE(&copy.Parameters().Items(0), &BasicParameterGroup().Parameters().Items(0));
}

struct TProbeRun {
    DWORD ExitCode = 0;
    std::string Output;
};

// Runs the parameter probe beside this test program with AArguments and
// collects what it writes to standard output.
TProbeRun RunProbe(const std::wstring& AArguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    TKernelHandle readEnd, writeEnd;
    EXPECT_TRUE(::CreatePipe(readEnd.addressof(), writeEnd.addressof(), &inherit, 0));
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    const std::wstring program = ProgramFolder() + L"parameterprobe.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + AArguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION created = {};
    TProbeRun run;
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &created)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return run;
    }
    TKernelHandle process(created.hProcess), thread(created.hThread);
    writeEnd.reset();
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        run.Output.append(buffer, read);
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &run.ExitCode);
    return run;
}

std::string HelpPageOutput() {
    std::string text;
    for (const std::wstring& line : StartUpHelpPage)
        text += WideToUtf8(line) + "\r\n";
    return text;
}

TEST(CommandLineSwitches, AreReadFromTheRealCommandLine) {
    struct {
        const wchar_t* Arguments;
        const char* Flags;
        bool ShowsHelp;
    } const cases[] = {
        {L"/Help", "help=1 verbose=0 silent=0", true},
        {L"--help", "help=0 verbose=0 silent=0", false},
        {L"-VERBOSE /silent", "help=0 verbose=1 silent=1", false},
        {L"verbose /man", "help=0 verbose=0 silent=0", true},
        {L"-?", "help=0 verbose=0 silent=0", true},
        {L"", "help=0 verbose=0 silent=0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Arguments));
        const TProbeRun run = RunProbe(c.Arguments);
        const std::string flags = std::string(c.Flags) + "\r\n"; // text mode
        EXPECT_EQ(run.Output.substr(0, flags.size()), flags);
        EXPECT_EQ(run.Output.substr(std::min(flags.size(), run.Output.size())),
                  c.ShowsHelp ? HelpPageOutput() : "");
        EXPECT_EQ(run.ExitCode, c.ShowsHelp ? 0u : 3u);
    }
}

} // namespace
