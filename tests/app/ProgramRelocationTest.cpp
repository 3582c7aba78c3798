// The relocation's decisions against a recorder of its dialogs, registry,
// files and shell: what it does in which order for each outcome; and the
// tool's files as they lie beside the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <set>
#include <string>
#include <vector>

#include "app/ProgramRelocation.h"
#include "platform/SystemMessage.h"
#include "tests/support/TestFiles.h"

namespace {

const std::wstring Program = L"D:\\Downloads\\derodo.exe";
const std::wstring Marker = L"D:\\Downloads\\QVFSSvc.exe";
const std::wstring Target = L"C:\\Vexlo\\derodo.exe";
const std::wstring Catalog = L"locale\\de\\LC_MESSAGES\\default.mo";

class TRecordedRelocation : public TRelocationSystem {
public:
    std::set<std::wstring> Files;
    int Answer = IDYES;
    std::optional<std::wstring> Location = L"C:\\Vexlo";
    std::vector<std::wstring> Tool = {L"derodo.exe", L"derodo.com", Catalog};
    DWORD CopyError = 0;
    size_t CopyFailed = 0;
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
    std::vector<std::wstring> ToolFiles(const std::wstring& AProgramFileName) override {
        Calls.push_back(L"ToolFiles " + AProgramFileName);
        return Tool;
    }
    bool Copy(const std::wstring& AFrom, const std::vector<std::wstring>& AFiles,
              const std::wstring& ATo, std::size_t& AFailed, DWORD& AErrorCode) override {
        std::wstring call = L"Copy " + AFrom + L" to " + ATo + L":";
        for (const std::wstring& file : AFiles)
            call += L" " + file;
        Calls.push_back(call);
        AFailed = CopyFailed;
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
const std::wstring Listed = L"ToolFiles " + Program;
const std::wstring Copied =
    L"Copy D:\\Downloads\\ to C:\\Vexlo\\: derodo.exe derodo.com " + Catalog;

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
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Listed, Copied,
          L"Start " + Target},
         rlRelocated},
        {"a question that could not be shown is no No",
         [](TRecordedRelocation& s) { s.Answer = 0; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Listed, Copied,
          L"Start " + Target},
         rlRelocated},
        {"an older copy there, location with its trailing backslash",
         [](TRecordedRelocation& s) {
             s.Location = L"C:\\Vexlo\\";
             s.Files.insert(Target);
         },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Listed, Copied,
          L"Start " + Target},
         rlRelocated},
        {"the program alone",
         [](TRecordedRelocation& s) { s.Tool = {L"derodo.exe"}; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Listed,
          L"Copy D:\\Downloads\\ to C:\\Vexlo\\: derodo.exe", L"Start " + Target},
         rlRelocated},
        {"copy failed",
         [](TRecordedRelocation& s) { s.CopyError = ERROR_ACCESS_DENIED; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Listed, Copied,
          L"ShowError " + CopyFailedMessage(Target, ERROR_ACCESS_DENIED)},
         rlStayed},
        {"copy failed on a translation: that file is named",
         [](TRecordedRelocation& s) {
             s.CopyError = ERROR_SHARING_VIOLATION;
             s.CopyFailed = 2;
         },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Listed, Copied,
          L"ShowError " + CopyFailedMessage(L"C:\\Vexlo\\" + Catalog, ERROR_SHARING_VIOLATION)},
         rlStayed},
        {"copy not started",
         [](TRecordedRelocation& s) { s.StartError = ERROR_BAD_FORMAT; },
         {L"FileExists " + Marker, Asked, L"ReadInstallLocation", Listed, Copied,
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

// The tool's files as they lie beside the program: the program, its twin,
// the translations, and nothing else.
TEST(ProgramRelocation, TheToolIsTheProgramItsTwinAndItsTranslations) {
    TScratchFolder folder;
    const std::wstring program = folder.Write(L"Test Tool.exe", "program");
    folder.Write(L"other.dll", "not the tool's");
    EXPECT_EQ(ToolFiles(program), std::vector<std::wstring>{L"Test Tool.exe"});

    folder.Write(L"Test Tool.com", "twin");
    for (const wchar_t* sub : {L"locale", L"locale\\fr", L"locale\\fr\\LC_MESSAGES", L"locale\\de",
                               L"locale\\de\\LC_MESSAGES", L"locale\\empty"})
        ASSERT_TRUE(::CreateDirectoryW((folder.Path() + sub).c_str(), nullptr));
    folder.Write(L"locale\\fr\\LC_MESSAGES\\default.mo", "fr");
    folder.Write(L"locale\\de\\LC_MESSAGES\\default.mo", "de");
    folder.Write(L"locale\\README", "about the catalogs");
    EXPECT_EQ(ToolFiles(program),
              (std::vector<std::wstring>{L"Test Tool.exe", L"Test Tool.com", L"locale\\README",
                                         L"locale\\de\\LC_MESSAGES\\default.mo",
                                         L"locale\\fr\\LC_MESSAGES\\default.mo"}));
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
