// The start-up relocation end to end: the real tool, with its twin and its
// translations, started outside the installation folder, its dialogs
// answered from here, the uninstall record written by the test, the copy
// found and closed.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ProgramRelocation.h"
#include "platform/Handles.h"
#include "tests/automation/Automation.h"
#include "tests/automation/DemoCopy.h"
#include "tests/support/TestFiles.h"

namespace {

// The installer's uninstall record, absent unless the test writes it, and
// removed at the end.
class TUninstallRecord {
public:
    TUninstallRecord() { Remove(); }
    TUninstallRecord(const TUninstallRecord&) = delete;
    TUninstallRecord& operator=(const TUninstallRecord&) = delete;
    ~TUninstallRecord() { Remove(); }

    void Write(DWORD AType, const void* AData, DWORD ASize) {
        TRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, VexloUninstallKey, 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.addressof(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), InstallLocationValue, 0, AType,
                                   static_cast<const BYTE*>(AData), ASize),
                  ERROR_SUCCESS);
    }
    void WriteLocation(const std::wstring& ALocation) {
        Write(REG_SZ, ALocation.c_str(),
              static_cast<DWORD>((ALocation.size() + 1) * sizeof(wchar_t)));
    }

private:
    static void Remove() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, VexloUninstallKey); }
};

std::wstring WithoutTrailingBackslash(std::wstring APath) {
    if (!APath.empty() && APath.back() == L'\\')
        APath.pop_back();
    return APath;
}

// Ends every process running the program at APath (a path of the test's own).
void EndProcessesOf(const std::wstring& APath) {
    const TKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        const TKernelHandle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                          FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH * 2] = {};
        DWORD length = MAX_PATH * 2;
        if (process && ::QueryFullProcessImageNameW(process.get(), 0, image, &length) &&
            ::lstrcmpiW(image, APath.c_str()) == 0) {
            ::TerminateProcess(process.get(), 255);
            ::WaitForSingleObject(process.get(), 10000);
        }
    }
}

bool Contains(const std::vector<std::wstring>& ALines, const std::wstring& ALine) {
    return std::find(ALines.begin(), ALines.end(), ALine) != ALines.end();
}

// The files of the tool besides the window program: its console twin and
// its German catalog.
const std::wstring Twin = L"derodo.com";
const std::wstring Catalog = L"locale\\de\\LC_MESSAGES\\default.mo";

// Every file below AFolder whose name says it was left half-way by a copy.
std::vector<std::wstring> LeftOvers(const std::filesystem::path& AFolder) {
    std::vector<std::wstring> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(AFolder)) {
        const std::wstring name = entry.path().filename().wstring();
        if (name.ends_with(L".partial") || name.ends_with(L".replaced"))
            found.push_back(entry.path().wstring());
    }
    return found;
}

class RelocationWindow : public testing::Test {
protected:
    // The tool as downloaded, with its twin and its translations: in a
    // folder without the product's files.
    TScratchFolder FDownloads;
    std::wstring FTool = FDownloads.Copy(FixturePath(L"derodo.exe"), L"derodo.exe");
    // The installation folder, with the product's files and an older copy
    // of the window program, but neither the twin nor the translations.
    TDemoCopy FInstallation{L"relocation"};
    std::wstring FTarget = FInstallation.File(L"derodo.exe");
    TUninstallRecord FRecord;

    void SetUp() override {
        FDownloads.Copy(FixturePath(Twin), Twin);
        std::filesystem::create_directories(FDownloads.Path() + L"locale\\de\\LC_MESSAGES");
        FDownloads.Copy(FixturePath(Catalog), Catalog);
        std::filesystem::remove(FInstallation.File(Twin));
        std::filesystem::remove_all(FInstallation.File(L"locale"));
        TFileHandle file(::CreateFileW(FTarget.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(file && ::WriteFile(file.get(), "older copy", 10, &written, nullptr));
    }
    // A copy started by a test that failed must not outlive it.
    void TearDown() override { EndProcessesOf(FTarget); }

    // Answers the question with AAnswer.
    void AnswerQuestion(TAutomatedTool& ATool, int AAnswer) {
        auto question = ATool.WaitForMessageBox();
        ASSERT_TRUE(question.has_value());
        EXPECT_EQ(question->Caption, ConfirmationCaption);
        EXPECT_EQ(question->Text, RelocationQuestion);
        // The question comes before the window.
        EXPECT_EQ(ATool.MainWindow(), nullptr);
        ATool.Answer(*question, AAnswer);
    }
    // Acknowledges the error dialog, which must say AText.
    void AcknowledgeError(TAutomatedTool& ATool, const std::wstring& AText) {
        auto error = ATool.WaitForMessageBox();
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->Caption, ErrorCaption);
        EXPECT_EQ(error->Text, AText);
        ATool.Answer(*error, IDOK);
    }
    // The tool's start-up went on where it was started: its window shows the
    // report of that folder, the older copy is untouched.
    void ExpectStartUpInTheDownloadsFolder(TAutomatedTool& ATool) {
        ASSERT_NE(ATool.WaitForMainWindow(), nullptr);
        const std::vector<std::wstring> lines = ATool.LogLines();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[1], L"[ Windows ]");
        EXPECT_EQ(lines[3], L"[i] " + FDownloads.Path());
        EXPECT_TRUE(Contains(lines, L"[-] Missing file: " + FDownloads.Path() + L"QVFSSvc.exe"));
        ExpectTheInstallationAsItWas();
        EXPECT_EQ(ATool.Close(), 0u);
    }
    // Nothing of the tool reached the installation folder, not even in part.
    void ExpectTheInstallationAsItWas() {
        EXPECT_EQ(ReadWholeFile(FTarget), "older copy");
        EXPECT_FALSE(Exists(FInstallation.File(Twin)));
        EXPECT_FALSE(Exists(FInstallation.File(L"locale")));
        EXPECT_EQ(LeftOvers(FInstallation.Folder()), std::vector<std::wstring>{});
    }
};

TEST_F(RelocationWindow, StartedInTheInstallationFolderTheToolAsksNothing) {
    FRecord.WriteLocation(L"C:\\nowhere");
    // The older copy is replaced by the tool itself: it is the one started.
    ASSERT_TRUE(::CopyFileW(FTool.c_str(), FTarget.c_str(), FALSE));
    TAutomatedTool tool(FTarget);
    ASSERT_NE(tool.WaitForMainWindow(), nullptr);
    const std::vector<std::wstring> lines = tool.LogLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"");
    EXPECT_EQ(lines[1], L"[ Windows ]");
    EXPECT_EQ(lines[3], L"[i] " + FInstallation.Folder());
    EXPECT_EQ(tool.Close(), 0u);
}

TEST_F(RelocationWindow, AnsweredNoTheToolGoesOnWhereItIs) {
    FRecord.WriteLocation(FInstallation.Folder());
    TAutomatedTool tool(FTool);
    AnswerQuestion(tool, IDNO);
    ExpectStartUpInTheDownloadsFolder(tool);
}

TEST_F(RelocationWindow, WithoutAUsableLocationTheErrorShowsAndTheToolGoesOnWhereItIs) {
    const DWORD number = 1;
    const struct {
        const char* Name;
        DWORD Type; // 0: no record at all
        const void* Data;
        DWORD Size;
    } cases[] = {
        {"no uninstall record", 0, nullptr, 0},
        {"location not text", REG_DWORD, &number, sizeof(number)},
        {"location empty", REG_SZ, L"", sizeof(wchar_t)},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        if (row.Type != 0)
            FRecord.Write(row.Type, row.Data, row.Size);
        TAutomatedTool tool(FTool);
        AnswerQuestion(tool, IDYES);
        AcknowledgeError(tool, InstallLocationUnknown);
        ExpectStartUpInTheDownloadsFolder(tool);
    }
}

TEST_F(RelocationWindow, AnsweredYesTheWholeToolReplacesTheOlderOneStartsAndTheToolEndsWithOne) {
    FRecord.WriteLocation(WithoutTrailingBackslash(FInstallation.Folder()));
    TAutomatedTool tool(FTool);
    AnswerQuestion(tool, IDYES);
    // Ends without its window ever showing.
    EXPECT_EQ(tool.WaitForMainWindow(), nullptr);
    EXPECT_EQ(tool.WaitForExit(), 1u);
    EXPECT_EQ(ReadWholeFile(FTarget), ReadWholeFile(FTool));
    // The twin and the German catalog came along, whole.
    EXPECT_EQ(ReadWholeFile(FInstallation.File(Twin)), ReadWholeFile(FDownloads.Path() + Twin));
    EXPECT_EQ(ReadWholeFile(FInstallation.File(Catalog)),
              ReadWholeFile(FDownloads.Path() + Catalog));
    EXPECT_FALSE(ReadWholeFile(FInstallation.File(Catalog)).empty());
    EXPECT_EQ(LeftOvers(FInstallation.Folder()), std::vector<std::wstring>{});

    // The copy runs from the installation folder and asks nothing.
    std::unique_ptr<TAutomatedTool> copy = TAutomatedTool::FindStarted(FTarget);
    ASSERT_NE(copy, nullptr);
    const std::vector<std::wstring> lines = copy->LogLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], L"[i] " + FInstallation.Folder());
    EXPECT_FALSE(Contains(lines, L"[-] Missing file: " + FInstallation.File(L"QVFSSvc.exe")));
    EXPECT_EQ(copy->Close(), 0u);
}

TEST_F(RelocationWindow, ACopyThatFailsIsReportedAndTheToolGoesOnWhereItIs) {
    {
        SCOPED_TRACE("the older copy in use: neither deleted nor overwritten");
        FRecord.WriteLocation(FInstallation.Folder());
        TFileHandle inUse(
            ::CreateFileW(FTarget.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse);
        TAutomatedTool tool(FTool);
        AnswerQuestion(tool, IDYES);
        AcknowledgeError(tool, CopyFailedMessage(FTarget, ERROR_SHARING_VIOLATION));
        inUse.reset();
        ExpectStartUpInTheDownloadsFolder(tool);
    }
    {
        SCOPED_TRACE("a translation that cannot be read: nothing is copied");
        FRecord.WriteLocation(FInstallation.Folder());
        const std::wstring held = FDownloads.Path() + Catalog;
        TFileHandle unreadable(
            ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(unreadable);
        TAutomatedTool tool(FTool);
        AnswerQuestion(tool, IDYES);
        AcknowledgeError(tool,
                         CopyFailedMessage(FInstallation.File(Catalog), ERROR_SHARING_VIOLATION));
        // Nothing half-copied while the tool still runs, the dialog answered.
        ExpectTheInstallationAsItWas();
        unreadable.reset();
        ExpectStartUpInTheDownloadsFolder(tool);
    }
    {
        SCOPED_TRACE("a stale record: the installation folder is gone");
        const std::wstring gone = FDownloads.Path() + L"uninstalled";
        FRecord.WriteLocation(gone);
        TAutomatedTool tool(FTool);
        AnswerQuestion(tool, IDYES);
        AcknowledgeError(tool, CopyFailedMessage(gone + L"\\derodo.exe", ERROR_PATH_NOT_FOUND));
        ExpectStartUpInTheDownloadsFolder(tool);
    }
}

} // namespace
