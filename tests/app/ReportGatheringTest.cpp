// The start-up facts as the console's seam answers them: what only the JSON
// shows (and only the JSON has read), an error part-way through (the log then holds the lines of
// what was gathered, and the error passes on), the state test asked beside the installation
// report, and state questions that the system refuses to answer.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/LiveProtectionFiles.h"
#include "app/ReportGathering.h"
#include "app/ReportMode.h"
#include "platform/ProgramPath.h"
#include "tests/app/FakeConsoleServices.h"

namespace {

bool Contains(const std::vector<std::wstring>& ALines, const std::wstring& ALine) {
    return std::find(ALines.begin(), ALines.end(), ALine) != ALines.end();
}

TFakeConsoleServices AllEightFiles() {
    TFakeConsoleServices services;
    for (const wchar_t* name : LiveProtectionFiles)
        services.Files[name];
    return services;
}

TEST(ReportGathering, TheJsonsOwnFactsComeThroughTheSeam) {
    TFakeConsoleServices services = AllEightFiles();
    services.Files.erase(L"QVHook64.dll");
    services.Files[L"QVHook32.dll"].Size = 0x1'0000'0001;
    services.Files[L"QVHook32.dll"].Sha1Error = ERROR_SHARING_VIOLATION;
    services.Files[L"QVHook32.dll"].Sha256Error = ERROR_ACCESS_DENIED;
    services.WindowsNumbers = {10, 0, 19045};

    const TGathered<TInstallationFacts> gathered =
        GatherInstallationFacts(services, TFactsFor::Json);
    ASSERT_FALSE(gathered.Error);
    const TInstallationFacts& facts = gathered.Facts;
    ASSERT_TRUE(facts.Windows);
    EXPECT_EQ(facts.Windows->Name, L"Windows 10, Version 22H2");
    EXPECT_EQ(facts.Windows->Version, services.WindowsName);
    EXPECT_EQ(facts.Windows->Major, 10u);
    EXPECT_EQ(facts.Windows->Build, 19045u);
    ASSERT_EQ(facts.Files.size(), LiveProtectionFiles.size());
    EXPECT_EQ(facts.Files[0].Size, TFakeConsoleServices::TFile{}.Size);
    EXPECT_EQ(facts.Files[0].Sha256, TFakeConsoleServices::TFile{}.Sha256);
    EXPECT_EQ(facts.Files[0].Sha1, std::wstring(40, L'0'));
    EXPECT_FALSE(facts.Files[0].Sha1Failure);
    EXPECT_FALSE(facts.Files[0].Sha256Failure);
    EXPECT_EQ(facts.Files[1].Size, 0x1'0000'0001u);
    // A digest that cannot be read is no digest, and the seam's reason is kept.
    EXPECT_EQ(facts.Files[1].Sha1, L"");
    ASSERT_TRUE(facts.Files[1].Sha1Failure);
    EXPECT_EQ(facts.Files[1].Sha1Failure->Code, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(facts.Files[1].Sha1Failure->Message,
              TFakeConsoleServices::ReadErrorMessage(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(facts.Files[1].Sha256, L"");
    ASSERT_TRUE(facts.Files[1].Sha256Failure);
    EXPECT_EQ(facts.Files[1].Sha256Failure->Code, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(facts.Files[2].Present);
    EXPECT_FALSE(facts.Files[2].Signature);
    EXPECT_EQ(facts.Files[2].Path, ProgramFolder() + L"QVHook64.dll");
    ASSERT_TRUE(facts.Files[3].Signature);
    EXPECT_EQ(facts.Files[3].Signature->Subject, L"Quorvane Tessit Limited");

    // The log's facts leave the files' sizes and SHA-256 unread.
    TFakeConsoleServices forLog = AllEightFiles();
    ASSERT_FALSE(GatherInstallationFacts(forLog, TFactsFor::Log).Error);
    for (const std::string& call : forLog.Calls) {
        EXPECT_NE(call, "FileSize");
        EXPECT_NE(call, "FileSha256");
    }
}

// What the log holds when a question raises: the lines of the facts gathered
// until then; the error passes on to the window's error box.
TEST(ReportGathering, AnErrorPartWayLeavesTheLinesGatheredUntilThen) {
    struct TCase {
        const char* Raising;
        size_t Lines;
        std::wstring LastLine;
    };
    const TCase cases[] = {
        // The first file is missing, so the second file's reading raises.
        {"ReadVersionTexts", 7, L"[-] Missing file: " + ProgramFolder() + L"QVFSSvc.exe"},
        {"SetTrustRetrieveProperties", 16, L"[ Signature Test ]"},
        {"CheckFileTrust", 16, L"[ Signature Test ]"},
    };
    for (const TCase& row : cases) {
        TFakeConsoleServices services = AllEightFiles();
        services.Files.erase(L"QVFSSvc.exe");
        services.Raising.insert(row.Raising);
        TLogForm form(services);
        EXPECT_THROW(form.ReportInstallation(), std::runtime_error) << row.Raising;
        ASSERT_EQ(form.Lines.size(), row.Lines) << row.Raising;
        EXPECT_EQ(form.Lines.back(), row.LastLine) << row.Raising;
    }

    TFakeConsoleServices services;
    services.Raising.insert("FileScanServiceRunning");
    services.Standing["FileScanServiceExists"] = true;
    TLogForm form(services);
    EXPECT_THROW(form.RunStateTest(), std::runtime_error);
    EXPECT_EQ(form.Lines,
              (std::vector<std::wstring>{L"", L"[ State Test ]", L"[+] SERVICE PRESENCE"}));
}

TEST(ReportGathering, AtStartUpTheStateTestFollowsAWholeInstallationReportOnly) {
    {
        TFakeConsoleServices services = AllEightFiles();
        services.Standing["IsInjectionDriverInstalled"] = true;
        const TGathered<TReportFacts> gathered = GatherStartUpFacts(services, TFactsFor::Log);
        EXPECT_FALSE(gathered.Error);
        const std::vector<std::wstring> lines = ReportLines(gathered.Facts);
        ASSERT_EQ(lines.size(), 32u);
        EXPECT_EQ(lines[24], L"");
        EXPECT_EQ(lines[25], L"[ State Test ]");
        EXPECT_EQ(lines[28], L"[+] INSTALLED");
        EXPECT_EQ(lines[31], L"[-] Live Protection is installed, but not running!");
    }
    {
        // The state test's error comes after the whole report and its lines.
        TFakeConsoleServices services = AllEightFiles();
        services.Raising.insert("FileScanServiceExists");
        const TGathered<TReportFacts> gathered = GatherStartUpFacts(services, TFactsFor::Log);
        EXPECT_TRUE(gathered.Error);
        const std::vector<std::wstring> lines = ReportLines(gathered.Facts);
        ASSERT_EQ(lines.size(), 26u);
        EXPECT_EQ(lines.back(), L"[ State Test ]");
    }
    {
        // The report's error ends the start-up report: the state test, asked
        // beside it, is not shown.
        TFakeConsoleServices services = AllEightFiles();
        services.Raising.insert("CheckFileTrust");
        services.Raising.insert("FileScanServiceRunning");
        const TGathered<TReportFacts> gathered = GatherStartUpFacts(services, TFactsFor::Log);
        ASSERT_TRUE(gathered.Error);
        EXPECT_FALSE(gathered.Facts.State);
        try {
            std::rethrow_exception(gathered.Error);
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "CheckFileTrust failed on purpose");
        }
        EXPECT_EQ(ReportLines(gathered.Facts).back(), L"[ Signature Test ]");
    }
}

// Every state question that the system refuses to answer (access denied)
// is unknown in the report, never "no": its line says it needs an elevated
// prompt, the JSON has it null with the error, and the report is
// incomplete. The window keeps its lines: a "no" in its place.
TEST(ReportGathering, EveryStateQuestionRefusedIsUnknownNeverNo) {
    const struct {
        const char* Question; // as the seam's fake knows it
        const wchar_t* Title;
        const char* Field;
    } questions[] = {
        {"IsInjectionDriverInstalled", L"INSTALLED", "installed"},
        {"IsInjectionDriverRunning", L"RUNNING", "running"},
        {"IsLibraryInjected", L"INJECTED", "injected"},
        {"FileScanServiceExists", L"SERVICE PRESENCE", "servicePresence"},
        {"FileScanServiceRunning", L"SERVICE RUNNING", "serviceRunning"},
    };
    for (const auto& question : questions) {
        SCOPED_TRACE(question.Question);
        TFakeConsoleServices services = AllEightFiles();
        for (const auto& other : questions)
            services.Standing[other.Question] = true;
        services.Unknown[question.Question] = ERROR_ACCESS_DENIED;
        services.Elevated = false;

        const TGathered<TReportFacts> gathered = GatherStartUpFacts(services, TFactsFor::Json);
        ASSERT_FALSE(gathered.Error);
        ASSERT_TRUE(gathered.Facts.State);
        const std::vector<std::wstring> lines = ReportLines(gathered.Facts);
        const std::wstring title = question.Title;
        EXPECT_TRUE(
            Contains(lines, L"[i] " + title + L": unknown, the answer needs an elevated prompt"));
        EXPECT_FALSE(Contains(lines, L"[-] " + title));
        EXPECT_FALSE(Contains(lines, L"[+] " + title));
        EXPECT_EQ(lines.size(), 32u) << "the state test keeps its eight lines";

        const nlohmann::json document = nlohmann::json::parse(ReportFactsToJson(gathered.Facts));
        EXPECT_TRUE(document["state"][question.Field].is_null());
        EXPECT_EQ(document["state"]["unknown"][question.Field]["error"], 5);
        EXPECT_EQ(document["elevated"], false);
        EXPECT_EQ(ReportExitCode(*gathered.Facts.State), ReportIncompleteExitCode);

        // The window, asked the same, writes the line of a "no".
        TLogForm form(services);
        form.RunStateTest();
        EXPECT_TRUE(Contains(form.Lines, L"[-] " + title));
        EXPECT_EQ(form.Lines.size(), 8u);
    }
}

} // namespace
