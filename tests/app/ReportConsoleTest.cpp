// The report where support engineers run it: the console twin from cmd, the
// report's targets on a full volume and the null device, the switches either
// program does not understand, the raw result of each trust check in the
// JSON document, and a file another program holds without sharing. The tool
// runs in a folder of the test's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "fixtures/fileidentity/TestCA.h"
#include "platform/Handles.h"
#include "platform/SystemMessage.h"
#include "platform/WinText.h"
#include "tests/automation/Automation.h"
#include "tests/support/SmallVolume.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr DWORD NotWritten = 3;

// The two programs beside the trust samples standing in for the eight files:
// the second and third signed by the trusted test CA, the fourth by a CA
// nobody trusts, the others unsigned.
class ReportConsole : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(TrustTestCA(FixturePath(L"testca\\ca.cer"))); }

    void SetUp() override {
        FFolder.Copy(FixturePath(L"derodo.exe"), L"derodo.exe");
        FFolder.Copy(FixturePath(L"derodo.com"), L"derodo.com");
        const std::vector<std::pair<const wchar_t*, const wchar_t*>> files = {
            {L"QVFSSvc.exe", L"unsigned.exe"},      {L"QVHook32.dll", L"signed.exe"},
            {L"QVHook64.dll", L"signed.exe"},       {L"QVHookDrv32.sys", L"untrusted.exe"},
            {L"QVHookDrv64.sys", L"unsigned.exe"},  {L"QVHookHelper.exe", L"unsigned.exe"},
            {L"QVHookInst32.exe", L"unsigned.exe"}, {L"QVHookInst64.exe", L"unsigned.exe"},
        };
        for (const auto& [name, sample] : files)
            FFolder.Copy(FixturePath(std::wstring(L"trust\\") + sample), name);
    }

    std::wstring Program(const wchar_t* AName) const { return FFolder.Path() + AName; }

    // The twin run directly, so that its own windows are counted.
    TCompletedRun Twin(const std::wstring& AArguments) const {
        TCompletedRun run = RunToCompletion(Program(L"derodo.com"), AArguments);
        EXPECT_EQ(run.WindowsSeen, 0) << "no window and no box from the console program";
        return run;
    }

    TScratchFolder FFolder;
};

TEST_F(ReportConsole, FromCmdTheReportIsWholeWhenCmdReturnsAndTheExitCodeIsTheVerdict) {
    const std::wstring expected = Utf8ToWide(Twin(L"/report:-").Output);
    ASSERT_NE(expected.find(L"[ Signature Test ]"), std::wstring::npos);

    // As typed at the prompt: "derodo" finds derodo.com first; the exit code
    // is read after the program, as the next command of the line.
    const std::wstring cmd = L"C:\\windows\\system32\\cmd.exe";
    TCompletedRun run =
        RunToCompletion(cmd, L"/v:on /c \"cd /d " + FFolder.Path() +
                                 L" && derodo /report:- > report.txt & echo !ERRORLEVEL!\"");
    EXPECT_EQ(run.Output, "2\r\n") << "the verdict: Live Protection is not installed";
    EXPECT_EQ(Utf8ToWide(ReadWholeFile(FFolder.Path() + L"report.txt")), expected);

    run = RunToCompletion(cmd, L"/v:on /c \"cd /d " + FFolder.Path() +
                                   L" && derodo /report:report.json /json & echo !ERRORLEVEL!\"");
    EXPECT_EQ(run.Output, "2\r\n");
    const nlohmann::json document =
        nlohmann::json::parse(ReadWholeFile(FFolder.Path() + L"report.json"));
    EXPECT_FALSE(document["verdict"]["success"].get<bool>());

    // Bare, it is the console program that answers: derodo.exe would open
    // its window.
    run = RunToCompletion(cmd, L"/v:on /c \"cd /d " + FFolder.Path() +
                                   L" && derodo & echo !ERRORLEVEL!\"");
    EXPECT_EQ(run.Output, "3\r\n");
    EXPECT_EQ(run.Error.rfind("derodo: No report asked for.", 0), 0u) << run.Error;
}

// What each program does with a command line it does not take as a report.
TEST_F(ReportConsole, SwitchesNotUnderstoodAreOneLineOnStandardErrorAndExitCode3) {
    struct TCase {
        const wchar_t* Program;
        const wchar_t* Arguments;
    };
    for (const TCase& row : std::vector<TCase>{
             {L"derodo.com", L""},
             {L"derodo.com", L"/report x"},
             {L"derodo.com", L"/report=x"},
             {L"derodo.com", L"/report:- /jsno"},
             {L"derodo.com", L"/verbose"},
             {L"derodo.exe", L"/report x"},
             {L"derodo.exe", L"/report=x"},
             {L"derodo.exe", L"-json"},
             {L"derodo.exe", L"/report:- /unknown"},
         }) {
        SCOPED_TRACE(WideToUtf8(std::wstring(row.Program) + L" " + row.Arguments));
        const TCompletedRun run = RunToCompletion(Program(row.Program), row.Arguments);
        EXPECT_EQ(run.WindowsSeen, 0);
        EXPECT_EQ(run.ExitCode, NotWritten);
        EXPECT_EQ(run.Output, "");
        EXPECT_EQ(run.Error.rfind("derodo: ", 0), 0u) << run.Error;
        EXPECT_EQ(run.Error.find('\n'), run.Error.size() - 1) << "one line";
    }
}

TEST_F(ReportConsole, HelpListsTheSwitchesWithTheirGroupsOnStandardOutput) {
    for (const wchar_t* program : {L"derodo.com", L"derodo.exe"}) {
        for (const wchar_t* arguments : {L"/help", L"/?", L"-HELP /report:-"}) {
            SCOPED_TRACE(WideToUtf8(std::wstring(program) + L" " + arguments));
            const TCompletedRun run = RunToCompletion(Program(program), arguments);
            EXPECT_EQ(run.WindowsSeen, 0);
            EXPECT_EQ(run.ExitCode, 0u);
            EXPECT_EQ(run.Error, "");
            for (const char* line : {"\r\nBasic", "\r\n  /help ", "\r\nReport ",
                                     "\r\n  /report:<file> ", "\r\n  /json "})
                EXPECT_NE(run.Output.find(line), std::string::npos) << line;
        }
    }
}

// A report is written whole or not at all; a device is written directly.
TEST_F(ReportConsole, EachTargetGetsTheWholeReportOrKeepsWhatItHad) {
    const TCompletedRun reference = Twin(L"/report:-");
    ASSERT_EQ(reference.ExitCode, 2u);
    TSmallVolume volume(L"derodo-report", L"1m");
    if (volume.Refused())
        GTEST_SKIP() << "this system lets the tests mount no volume";
    ASSERT_TRUE(volume.Mounted()) << "no volume mounted at " << WideToUtf8(volume.Folder());
    const std::wstring earlier = volume.Folder() + L"earlier.txt";
    WriteWholeFile(earlier, "an earlier report\r\n");
    const std::wstring roomy = FFolder.Path() + L"roomy.txt";
    WriteWholeFile(roomy, "an earlier report\r\n");
    volume.Fill(L"filler");

    struct TCase {
        const char* Name;
        std::wstring Target;
        DWORD ExitCode;
        std::string Afterwards; // what the target holds; no file without a value
        bool Exists;
    };
    for (const TCase& row : std::vector<TCase>{
             {"new file on a full volume", volume.Folder() + L"new.txt", NotWritten, "", false},
             {"earlier report on a full volume", earlier, NotWritten, "an earlier report\r\n",
              true},
             {"earlier report with room", roomy, reference.ExitCode, reference.Output, true},
             {"the null device", L"NUL", reference.ExitCode, "", false},
         }) {
        SCOPED_TRACE(row.Name);
        const TCompletedRun run = Twin(L"/report:\"" + row.Target + L"\"");
        EXPECT_EQ(run.ExitCode, row.ExitCode) << run.Error;
        EXPECT_EQ(run.Error.empty(), row.ExitCode != NotWritten) << run.Error;
        if (row.Target == L"NUL")
            continue;
        EXPECT_EQ(Exists(row.Target), row.Exists);
        EXPECT_EQ(ReadWholeFile(row.Target), row.Afterwards);
        // No temporary file stays beside the target.
        WIN32_FIND_DATAW found{};
        const std::wstring pattern = row.Target + L".*.partial";
        const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE) << WideToUtf8(found.cFileName);
        if (search != INVALID_HANDLE_VALUE)
            ::FindClose(search);
    }
}

// The raw result of every check and the system's text beside the words.
TEST_F(ReportConsole, TheJsonCarriesEachChecksRawResultAndItsText) {
    const TCompletedRun run = Twin(L"/report:- /json");
    ASSERT_EQ(run.ExitCode, 2u) << run.Error;
    const nlohmann::json document = nlohmann::json::parse(run.Output);
    // Wine gives every program a full administrator's token, the twin's too
    // though its manifest asks for none: every state question is answered.
    EXPECT_EQ(document["elevated"], true);
    EXPECT_EQ(document["state"]["unknown"], nlohmann::json::object());
    const auto& files = document["files"];
    ASSERT_EQ(files.size(), 8u);
    struct TCase {
        size_t Index;
        const char* Result;
        const char* Status;
    };
    for (const TCase& row : std::vector<TCase>{{0, "0x800B0100", "no signature"},
                                               {1, "0x00000000", "success"},
                                               {3, "0x800B0109", "unknown"}}) {
        const auto& signature = files[row.Index]["signature"];
        SCOPED_TRACE(signature.dump());
        EXPECT_EQ(signature["result"], row.Result);
        EXPECT_EQ(signature["status"], row.Status);
        EXPECT_TRUE(signature["message"].is_string());
        EXPECT_FALSE(signature["message"].get<std::string>().empty());
    }
    const auto& unsignedFile = files[0]["signature"];
    for (const char* detail : {"subject", "issuer", "serialNumber", "validFrom", "validTo"})
        EXPECT_TRUE(unsignedFile[detail].is_null()) << detail;
    EXPECT_EQ(files[1]["signature"]["subject"], "Derodo Test Code Signing");
    // The name alone; its numbers are in the version.
    const std::string name = document["windows"]["name"].get<std::string>();
    EXPECT_EQ(name.find(std::to_string(document["windows"]["build"].get<int>())), std::string::npos)
        << name;
    EXPECT_EQ(document["windows"]["version"].get<std::string>().rfind(name, 0), 0u);
}

// A file that cannot be read has no digest: its line says why, and the JSON
// has null digests with the reason beside them.
TEST_F(ReportConsole, AFileHeldWithoutSharingIsReportedAsUnreadableNeverWithADigest) {
    const std::wstring held = Program(L"QVHook64.dll");
    TFileHandle holder(::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    const std::string reason = WideToUtf8(SystemMessage(ERROR_SHARING_VIOLATION));
    ASSERT_FALSE(reason.empty());

    const TCompletedRun text = Twin(L"/report:-");
    ASSERT_EQ(text.ExitCode, 2u) << text.Error;
    const size_t line = text.Output.find("\r\n[-]         QVHook64.dll - file ");
    ASSERT_NE(line, std::string::npos) << text.Output;
    const std::string reported =
        text.Output.substr(line + 2, text.Output.find("\r\n", line + 2) - line - 2);
    EXPECT_TRUE(reported.ends_with(" hash unreadable: " + reason)) << reported;
    EXPECT_NE(text.Output.find("QVHook32.dll - file  2.7.3.118 product    2.7.0.0 hash "),
              std::string::npos)
        << "the other files as ever";

    const TCompletedRun json = Twin(L"/report:- /json");
    ASSERT_EQ(json.ExitCode, 2u) << json.Error;
    const nlohmann::json file = nlohmann::json::parse(json.Output)["files"][2];
    ASSERT_EQ(file["name"], "QVHook64.dll");
    EXPECT_TRUE(file["present"].get<bool>());
    for (const char* digest : {"sha1", "sha256"}) {
        SCOPED_TRACE(digest);
        EXPECT_TRUE(file[digest].is_null());
        EXPECT_EQ(file[std::string(digest) + "Error"], reason);
        EXPECT_EQ(file[std::string(digest) + "ErrorCode"], ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(file["signature"]["result"], "0x80070020") << "the check could not open it either";
}

} // namespace
