// The relocation's decisions against a recorder of its dialogs, registry,
// files and shell: what it does in which order for each outcome.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <set>
#include <string>
#include <vector>

#include "app/ProgramRelocation.h"
#include "platform/SystemMessage.h"

namespace {

const std::wstring Program = L"D:\\Downloads\\derodo.exe";
const std::wstring Marker = L"D:\\Downloads\\QVFSSvc.exe";
const std::wstring Target = L"C:\\Vexlo\\derodo.exe";

class TRecordedRelocation : public TRelocationSystem {
public:
    std::set<std::wstring> Files;
    int Answer = IDYES;
    std::optional<std::wstring> Location = L"C:\\Vexlo";
    DWORD CopyError = 0;
    DWORD StartError = 0;
    std::vector<std::wstring> Calls;

    bool FileExists(const std::wstring& APath) override {
        Calls.push_back(L"FileExists " + APath);
        return Files.count(APath) > 0;
    }
    int Ask(const std::wstring& AQuestion) override {
        Calls.push_back(L"Ask " + AQuestion);
        return Answer;
    }
    void ShowError(const std::wstring& AMessage) override {
        Calls.push_back(L"ShowError " + AMessage);
    }
    std::optional<std::wstring> ReadInstallLocation() override {
        Calls.push_back(L"ReadInstallLocation");
        return Location;
    }
    bool DeleteFileOrLink(const std::wstring& APath) override {
        Calls.push_back(L"DeleteFileOrLink " + APath);
        return false; // not looked at
    }
    bool Copy(const std::wstring& AFrom, const std::wstring& ATo, DWORD& AErrorCode) override {
        Calls.push_back(L"Copy " + AFrom + L" " + ATo);
        AErrorCode = CopyError;
        return CopyError == 0;
    }
    bool Start(const std::wstring& AProgram, DWORD& AErrorCode) override {
        Calls.push_back(L"Start " + AProgram);
        AErrorCode = StartError;
        return StartError == 0;
    }
};

struct TCase {
    const char* Name;
    void (*Arrange)(TRecordedRelocation&);
    std::vector<std::wstring> Calls;
    TRelocation Result;
};

const std::wstring Asked = std::wstring(L"Ask ") + RelocationQuestion;
const std::wstring Unknown = std::wstring(L"ShowError ") + InstallLocationUnknown;
const std::wstring Copied = L"Copy " + Program + L" " + Target;

TEST(ProgramRelocation, EachOutcomeDoesItsStepsAndEndsTheToolOnlyOnceTheCopyRuns) {
    const std::vector<TCase> cases = {
        {"started in the installation folder",
         [](TRecordedRelocation& s) { s.Files.insert(Marker); },
         {L"FileExists " + Marker},
         rlStayed},
        {"answered No",
         [](TRecordedRelocation& s) { s.Answer = IDNO; },
         {L"FileExists " + Marker, Asked},
         rlStayed},
        {"uninstall key missing or value not text",
         [](TRecordedRelocation& s) { s.Location.reset(); },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Unknown},
         rlStayed},
        {"location missing or empty",
         [](TRecordedRelocation& s) { s.Location = L""; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Unknown},
         rlStayed},
        {"relocated",
         [](TRecordedRelocation&) {},
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", L"FileExists " + Target, Copied,
          L"Start " + Target},
         rlRelocated},
        {"a question that could not be shown is no No",
         [](TRecordedRelocation& s) { s.Answer = 0; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", L"FileExists " + Target, Copied,
          L"Start " + Target},
         rlRelocated},
        {"older copy replaced, location with its trailing backslash",
         [](TRecordedRelocation& s) {
             s.Location = L"C:\\Vexlo\\";
             s.Files.insert(Target);
         },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", L"FileExists " + Target,
          L"DeleteFileOrLink " + Target, Copied, L"Start " + Target},
         rlRelocated},
        {"copy failed",
         [](TRecordedRelocation& s) { s.CopyError = ERROR_ACCESS_DENIED; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", L"FileExists " + Target, Copied,
          L"ShowError " + CopyFailedMessage(Target, ERROR_ACCESS_DENIED)},
         rlStayed},
        {"copy not started",
         [](TRecordedRelocation& s) { s.StartError = ERROR_BAD_FORMAT; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", L"FileExists " + Target, Copied,
          L"Start " + Target, L"ShowError " + StartFailedMessage(Target, ERROR_BAD_FORMAT)},
         rlStayed},
    };
    for (const TCase& row : cases) {
        SCOPED_TRACE(row.Name);
        TRecordedRelocation system;
        row.Arrange(system);
        EXPECT_EQ(CheckProgramFolder(system, Program), row.Result);
        EXPECT_EQ(system.Calls, row.Calls);
    }
}

TEST(ProgramRelocation, TheTargetIsTheLocationWithOneBackslashAndTheProgramsName) {
    const struct {
        const wchar_t* Location;
        const wchar_t* Program;
        const wchar_t* Target;
    } cases[] = {
        {L"C:\\Program Files\\Vexlo", L"D:\\Downloads\\derodo.exe",
         L"C:\\Program Files\\Vexlo\\derodo.exe"},
        {L"C:\\Program Files\\Vexlo\\", L"D:\\Downloads\\derodo.exe",
         L"C:\\Program Files\\Vexlo\\derodo.exe"},
        {L"\\\\server\\share", L"\\\\other\\tools\\Test Tool.exe",
         L"\\\\server\\share\\Test Tool.exe"},
        {L"C:\\", L"D:derodo.exe", L"C:\\derodo.exe"},
    };
    for (const auto& row : cases)
        EXPECT_EQ(RelocationTarget(row.Location, row.Program), row.Target) << row.Location;
}

TEST(ProgramRelocation, TheErrorsNameTheTargetAndTheSystemsMessage) {
    EXPECT_EQ(CopyFailedMessage(Target, ERROR_ACCESS_DENIED),
              L"Unable to copy the tool to C:\\Vexlo\\derodo.exe: " +
                  SystemMessage(ERROR_ACCESS_DENIED) + L".");
    EXPECT_EQ(StartFailedMessage(Target, ERROR_FILE_NOT_FOUND),
              L"Unable to start C:\\Vexlo\\derodo.exe: " + SystemMessage(ERROR_FILE_NOT_FOUND) +
                  L".");
    EXPECT_FALSE(SystemMessage(ERROR_ACCESS_DENIED).empty());
}

TEST(ProgramRelocation, TheShellsOwnErrorsBecomeSystemErrorCodes) {
    const struct {
        INT_PTR Result;
        DWORD Code;
    } cases[] = {
        {0, ERROR_NOT_ENOUGH_MEMORY},
        {SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
        {SE_ERR_PNF, ERROR_PATH_NOT_FOUND},
        {SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED},
        {SE_ERR_OOM, ERROR_NOT_ENOUGH_MEMORY},
        {ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},
        {SE_ERR_SHARE, ERROR_SHARING_VIOLATION},
        {SE_ERR_ASSOCINCOMPLETE, ERROR_NO_ASSOCIATION},
        {SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
        {SE_ERR_DDETIMEOUT, ERROR_DDE_FAIL},
        {SE_ERR_DDEFAIL, ERROR_DDE_FAIL},
        {SE_ERR_DDEBUSY, ERROR_DDE_FAIL},
        {SE_ERR_DLLNOTFOUND, ERROR_DLL_NOT_FOUND},
    };
    for (const auto& row : cases)
        EXPECT_EQ(ShellExecuteErrorCode(row.Result), row.Code) << row.Result;
}

} // namespace
