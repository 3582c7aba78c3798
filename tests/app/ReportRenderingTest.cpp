// The facts rendered: the log's exact lines and the JSON document's exact
// text, for whole facts, facts cut short by an error, a missing file, a file
// not checked and text that JSON has to escape.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/ReportFacts.h"
#include "app/ReportMode.h"

namespace {

using TLines = std::vector<std::wstring>;

TSignatureFacts Signed() {
    TSignatureFacts signature;
    signature.Status = L"success";
    signature.Result = 0;
    signature.ResultMessage = L"The operation completed successfully";
    signature.Subject = L"Quorvane Tessit Limited";
    signature.Issuer = L"Quorvane Code Signing CA";
    signature.SerialNumber = L"0a1b";
    signature.ValidFrom = L"2024-01-02T03:04:05";
    signature.ValidTo = L"2027-01-02T03:04:05";
    return signature;
}

TSignatureFacts Unsigned() {
    TSignatureFacts signature;
    signature.StatusCode = 1;
    signature.Status = L"no signature";
    signature.Result = 0x800B0100;
    return signature;
}

TReportFileFacts Present(const wchar_t* AName, std::optional<TSignatureFacts> ASignature) {
    TReportFileFacts file;
    file.Name = AName;
    file.Path = std::wstring(L"C:\\Vexlo\\") + AName;
    file.Present = true;
    file.Size = 4096;
    file.FileVersion = L"2.7.3.118";
    file.ProductVersion = L"2.7.0.0";
    file.Sha1 = std::wstring(40, L'a');
    file.Sha256 = std::wstring(64, L'b');
    file.Signature = std::move(ASignature);
    return file;
}

TReportFileFacts Missing(const wchar_t* AName) {
    TReportFileFacts file;
    file.Name = AName;
    file.Path = std::wstring(L"C:\\Vexlo\\") + AName;
    return file;
}

// Three files: signed, missing, unsigned; every fact gathered.
TInstallationFacts ThreeFiles() {
    TInstallationFacts facts;
    facts.Windows = TWindowsFacts{L"Windows 10, Version 22H2",
                                  L"Windows 10, Version 22H2 [10.0.19045]", 10, 0, 19045};
    facts.ProgramFolder = L"C:\\Vexlo\\";
    facts.Files = {Present(L"QVFSSvc.exe", Signed()), Missing(L"QVHook32.dll"),
                   Present(L"QVHookHelper.exe", Unsigned())};
    facts.SignaturesBegun = true;
    return facts;
}

constexpr TAnswer Yes = TAnswer::Of(true);
constexpr TAnswer No = TAnswer::Of(false);
constexpr TAnswer Refused = TAnswer::Unknown(AccessDeniedError);

// The answers in the order they are asked; without elevation unless told.
TStateFacts Asked(std::optional<TAnswer> AInstalled, std::optional<TAnswer> ARunning,
                  std::optional<TAnswer> AInjected, std::optional<TAnswer> APresence,
                  std::optional<TAnswer> AServiceRunning, bool AElevated = false,
                  std::map<std::uint32_t, std::wstring> AErrorTexts = {}) {
    TStateFacts facts;
    facts.Installed = AInstalled;
    facts.Running = ARunning;
    facts.Injected = AInjected;
    facts.ServicePresence = APresence;
    facts.ServiceRunning = AServiceRunning;
    facts.Elevated = AElevated;
    facts.ErrorTexts = std::move(AErrorTexts);
    return facts;
}

TStateFacts State(bool AInstalled, bool ARunning, bool AInjected) {
    return Asked(TAnswer::Of(AInstalled), TAnswer::Of(ARunning), TAnswer::Of(AInjected), Yes, No,
                 true);
}

const std::wstring Hash(40, L'a');

TEST(ReportLines, EachBlockAsFarAsItsFactsWereGathered) {
    const TLines windows = {L"", L"[ Windows ]"};
    const TLines windowsBlock = {L"",
                                 L"[ Windows ]",
                                 L"[i] Windows Version: Windows 10, Version 22H2 [10.0.19045]",
                                 L"[i] C:\\Vexlo\\",
                                 L"",
                                 L"[ Versions ]"};
    const std::wstring signedLine =
        L"[i]          QVFSSvc.exe - file  2.7.3.118 product    2.7.0.0 hash " + Hash;
    const std::wstring missingLine = L"[-] Missing file: C:\\Vexlo\\QVHook32.dll";
    const std::wstring unsignedLine =
        L"[i]     QVHookHelper.exe - file  2.7.3.118 product    2.7.0.0 hash " + Hash;
    const TLines versions = {signedLine, missingLine, unsignedLine};

    struct TCase {
        const char* Name;
        TInstallationFacts Facts;
        TLines Expected;
    };
    std::vector<TCase> cases;
    auto add = [&cases](const char* AName, TInstallationFacts AFacts,
                        std::initializer_list<TLines> AParts) {
        TLines expected;
        for (const TLines& part : AParts)
            expected.insert(expected.end(), part.begin(), part.end());
        cases.push_back({AName, std::move(AFacts), std::move(expected)});
    };

    const TInstallationFacts whole = ThreeFiles();
    add("whole", whole,
        {windowsBlock,
         versions,
         {L"", L"[ Signature Test ]",
          L"[+]          QVFSSvc.exe - success - subject Quorvane Tessit Limited",
          L"[-]     QVHookHelper.exe - no signature - subject "}});

    add("the name not answered", TInstallationFacts{}, {windows});

    TInstallationFacts twoFiles = whole;
    twoFiles.Files.resize(2);
    twoFiles.SignaturesBegun = false;
    add("ended in the third file's versions", twoFiles, {windowsBlock, {signedLine, missingLine}});

    TInstallationFacts noFile = whole;
    noFile.Files.clear();
    noFile.SignaturesBegun = false;
    add("ended before the first file", noFile, {windowsBlock});

    TInstallationFacts firstChecked = whole;
    firstChecked.Files[2].Signature.reset();
    add("ended in the third file's check", firstChecked,
        {windowsBlock,
         versions,
         {L"", L"[ Signature Test ]",
          L"[+]          QVFSSvc.exe - success - subject Quorvane Tessit Limited"}});

    TInstallationFacts noneChecked = whole;
    noneChecked.Files[0].Signature.reset();
    noneChecked.Files[2].Signature.reset();
    add("ended before the first check", noneChecked,
        {windowsBlock, versions, {L"", L"[ Signature Test ]"}});

    TInstallationFacts unreadable = whole;
    unreadable.Files[0].Sha1.clear();
    unreadable.Files[0].Sha1Failure = TReadFailure{32, L"The file is in use"};
    unreadable.Files[2].Sha1.clear();
    unreadable.Files[2].Sha1Failure = TReadFailure{1234, L""};
    add("digests that could not be read, with and without the system's text", unreadable,
        {windowsBlock,
         {L"[-]          QVFSSvc.exe - file  2.7.3.118 product    2.7.0.0 hash unreadable: "
          L"The file is in use",
          missingLine,
          L"[-]     QVHookHelper.exe - file  2.7.3.118 product    2.7.0.0 hash unreadable: "
          L"error 1234"},
         {L"", L"[ Signature Test ]",
          L"[+]          QVFSSvc.exe - success - subject Quorvane Tessit Limited",
          L"[-]     QVHookHelper.exe - no signature - subject "}});

    TInstallationFacts longTexts = whole;
    longTexts.Files = {Present(L"A-name-of-22-letters.x", std::nullopt)};
    longTexts.Files[0].FileVersion = L"2.7.3.118-preview.4";
    longTexts.Files[0].ProductVersion = L"";
    longTexts.Windows->Version = L"Unknown Windows version 11.0 [11.0.30000]";
    add("texts longer than their field, an empty version", longTexts,
        {{L"", L"[ Windows ]", L"[i] Windows Version: Unknown Windows version 11.0 [11.0.30000]",
          L"[i] C:\\Vexlo\\", L"", L"[ Versions ]",
          L"[i] A-name-of-22-letters.x - file 2.7.3.118-preview.4 product            hash " + Hash,
          L"", L"[ Signature Test ]"}});

    for (const TCase& row : cases)
        EXPECT_EQ(InstallationReportLines(row.Facts), row.Expected) << row.Name;
}

TEST(ReportLines, TheStateTestAsFarAsItsAnswersWereGathered) {
    struct TCase {
        TStateFacts Facts;
        TLines Expected;
    };
    const std::vector<TCase> cases = {
        {{}, {L"", L"[ State Test ]"}},
        {Asked(Yes, Yes, Yes, std::nullopt, std::nullopt), {L"", L"[ State Test ]"}},
        {Asked(Yes, Yes, Yes, Yes, std::nullopt),
         {L"", L"[ State Test ]", L"[+] SERVICE PRESENCE"}},
        {State(false, true, false),
         {L"", L"[ State Test ]", L"[+] SERVICE PRESENCE", L"[-] SERVICE RUNNING", L"[-] INSTALLED",
          L"[+] RUNNING", L"[-] INJECTED",
          L"[+] Live Protection is not installed, but running until reboot."}},
        {State(true, true, true),
         {L"", L"[ State Test ]", L"[+] SERVICE PRESENCE", L"[-] SERVICE RUNNING", L"[+] INSTALLED",
          L"[+] RUNNING", L"[+] INJECTED", L"[+] Live Protection is active."}},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(StateTestLines(cases[i].Facts), cases[i].Expected) << "case " << i;
}

// An unknown answer is an information line with its reason, never a "no";
// the verdict stands only where no unknown answer could change it.
TEST(ReportLines, AnUnknownAnswerSaysWhyAndTheVerdictRestsOnNoGuess) {
    const TAnswer unavailable = TAnswer::Unknown(1722);
    const std::wstring needsElevation = L": unknown, the answer needs an elevated prompt";
    struct TCase {
        const char* Name;
        TStateFacts Facts;
        TLines Expected; // after the section's two lines
    };
    const TCase cases[] = {
        {"installed refused without elevation",
         Asked(Refused, Yes, No, Yes, No),
         {L"[+] SERVICE PRESENCE", L"[-] SERVICE RUNNING", L"[i] INSTALLED" + needsElevation,
          L"[+] RUNNING", L"[-] INJECTED",
          L"[i] The state of Live Protection is unknown without elevation."}},
        {"refused though elevated: the system's words",
         Asked(Refused, Yes, No, Yes, No, true, {{AccessDeniedError, L"Access denied"}}),
         {L"[+] SERVICE PRESENCE", L"[-] SERVICE RUNNING",
          L"[i] INSTALLED: unknown, Access denied (error 5)", L"[+] RUNNING", L"[-] INJECTED",
          L"[i] The state of Live Protection is unknown."}},
        {"no elevation would help: the system's words, or its code",
         Asked(Yes, unavailable, Yes, unavailable, No, false, {{1722, L""}}),
         {L"[i] SERVICE PRESENCE: unknown, error 1722", L"[-] SERVICE RUNNING", L"[+] INSTALLED",
          L"[i] RUNNING: unknown, error 1722", L"[+] INJECTED",
          L"[i] The state of Live Protection is unknown."}},
        {"the service's answers never decide the verdict",
         Asked(Yes, Yes, Yes, Refused, Refused),
         {L"[i] SERVICE PRESENCE" + needsElevation, L"[i] SERVICE RUNNING" + needsElevation,
          L"[+] INSTALLED", L"[+] RUNNING", L"[+] INJECTED", L"[+] Live Protection is active."}},
        {"the library decides only for a driver installed and running",
         Asked(No, Yes, Refused, Yes, Yes),
         {L"[+] SERVICE PRESENCE", L"[+] SERVICE RUNNING", L"[-] INSTALLED", L"[+] RUNNING",
          L"[i] INJECTED" + needsElevation,
          L"[+] Live Protection is not installed, but running until reboot."}},
        {"every answer refused",
         Asked(Refused, Refused, Refused, Refused, Refused),
         {L"[i] SERVICE PRESENCE" + needsElevation, L"[i] SERVICE RUNNING" + needsElevation,
          L"[i] INSTALLED" + needsElevation, L"[i] RUNNING" + needsElevation,
          L"[i] INJECTED" + needsElevation,
          L"[i] The state of Live Protection is unknown without elevation."}},
    };
    for (const TCase& row : cases) {
        TLines expected = {L"", L"[ State Test ]"};
        expected.insert(expected.end(), row.Expected.begin(), row.Expected.end());
        EXPECT_EQ(StateTestLines(row.Facts), expected) << row.Name;
        EXPECT_TRUE(HasUnknownAnswer(row.Facts)) << row.Name;
    }
}

// The window's questions answer no where they cannot find out: its lines are
// those of a "no" in the place of each unknown answer.
TEST(ReportLines, TheWindowShowsAnUnknownAnswerAsNo) {
    TReportFacts facts;
    facts.Installation = ThreeFiles();
    facts.State = Asked(Refused, Yes, Yes, TAnswer::Unknown(1722), Yes);
    const TReportFacts window = UnknownAnswersAsNo(facts);
    EXPECT_FALSE(HasUnknownAnswer(*window.State));
    EXPECT_EQ(ReportLines(window),
              ReportLines(TReportFacts{ThreeFiles(), Asked(No, Yes, Yes, No, Yes)}));
    EXPECT_EQ(ReportLines(window).back(),
              L"[+] Live Protection is not installed, but running until reboot.");
    EXPECT_FALSE(HasUnknownAnswer(State(false, false, false)));
}

TEST(ReportLines, TheStartUpReportIsTheInstallationReportThenTheStateTest) {
    TReportFacts facts;
    facts.Installation = ThreeFiles();
    TLines expected = InstallationReportLines(facts.Installation);
    EXPECT_EQ(ReportLines(facts), expected) << "no state test after an installation error";

    facts.State = State(true, true, false);
    const TLines state = StateTestLines(*facts.State);
    expected.insert(expected.end(), state.begin(), state.end());
    EXPECT_EQ(ReportLines(facts), expected);
}

TEST(ReportFactsToJson, TheDocumentOfWholeFactsOfNoneAndOfTextToEscape) {
    TReportFacts whole;
    whole.Installation = ThreeFiles();
    // The unsigned file's check found no signer: its details are null.
    whole.Installation.Files[2].Signature->Result.reset();
    whole.State = State(true, true, false);

    // Quotes, backslashes, control characters and text beyond ASCII, and a
    // lone surrogate, which has no UTF-8 form.
    TReportFacts escapes;
    escapes.Installation.Windows =
        TWindowsFacts{L"Windows \"Next\"", L"Windows\t\u00e9\u4e2d\U0001F600", 0, 0, 0};
    escapes.Installation.ProgramFolder = L"C:\\Users\\J\u00fcrgen\\";
    TReportFileFacts odd = Missing(L"line\nbreak\x01.exe");
    odd.Name += L'\xD800';
    escapes.Installation.Files = {odd};

    struct TCase {
        const char* Name;
        TReportFacts Facts;
        const char* Expected;
    };
    const TCase cases[] = {
        {"whole", whole, R"({
  "elevated": true,
  "files": [
    {
      "fileVersion": "2.7.3.118",
      "name": "QVFSSvc.exe",
      "path": "C:\\Vexlo\\QVFSSvc.exe",
      "present": true,
      "productVersion": "2.7.0.0",
      "sha1": "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
      "sha256": "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
      "signature": {
        "issuer": "Quorvane Code Signing CA",
        "message": "The operation completed successfully",
        "result": "0x00000000",
        "serialNumber": "0a1b",
        "status": "success",
        "statusCode": 0,
        "subject": "Quorvane Tessit Limited",
        "validFrom": "2024-01-02T03:04:05",
        "validTo": "2027-01-02T03:04:05"
      },
      "size": 4096
    },
    {
      "name": "QVHook32.dll",
      "path": "C:\\Vexlo\\QVHook32.dll",
      "present": false
    },
    {
      "fileVersion": "2.7.3.118",
      "name": "QVHookHelper.exe",
      "path": "C:\\Vexlo\\QVHookHelper.exe",
      "present": true,
      "productVersion": "2.7.0.0",
      "sha1": "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
      "sha256": "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
      "signature": {
        "issuer": null,
        "message": null,
        "result": null,
        "serialNumber": null,
        "status": "no signature",
        "statusCode": 1,
        "subject": null,
        "validFrom": null,
        "validTo": null
      },
      "size": 4096
    }
  ],
  "programFolder": "C:\\Vexlo\\",
  "state": {
    "injected": false,
    "installed": true,
    "running": true,
    "servicePresence": true,
    "serviceRunning": false,
    "unknown": {}
  },
  "verdict": {
    "success": false,
    "text": "Live Protection is installed, running, but not active!"
  },
  "windows": {
    "build": 19045,
    "major": 10,
    "minor": 0,
    "name": "Windows 10, Version 22H2",
    "version": "Windows 10, Version 22H2 [10.0.19045]"
  }
}
)"},
        {"nothing gathered", TReportFacts{}, R"({
  "elevated": null,
  "files": [],
  "programFolder": null,
  "state": {
    "injected": null,
    "installed": null,
    "running": null,
    "servicePresence": null,
    "serviceRunning": null,
    "unknown": {}
  },
  "verdict": {
    "success": null,
    "text": null
  },
  "windows": null
}
)"},
        {"text to escape", escapes,
         "{\n"
         "  \"elevated\": null,\n"
         "  \"files\": [\n"
         "    {\n"
         "      \"name\": \"line\\nbreak\\u0001.exe\xEF\xBF\xBD\",\n"
         "      \"path\": \"C:\\\\Vexlo\\\\line\\nbreak\\u0001.exe\",\n"
         "      \"present\": false\n"
         "    }\n"
         "  ],\n"
         "  \"programFolder\": \"C:\\\\Users\\\\J\xC3\xBCrgen\\\\\",\n"
         "  \"state\": {\n"
         "    \"injected\": null,\n"
         "    \"installed\": null,\n"
         "    \"running\": null,\n"
         "    \"servicePresence\": null,\n"
         "    \"serviceRunning\": null,\n"
         "    \"unknown\": {}\n"
         "  },\n"
         "  \"verdict\": {\n"
         "    \"success\": null,\n"
         "    \"text\": null\n"
         "  },\n"
         "  \"windows\": {\n"
         "    \"build\": 0,\n"
         "    \"major\": 0,\n"
         "    \"minor\": 0,\n"
         "    \"name\": \"Windows \\\"Next\\\"\",\n"
         "    \"version\": \"Windows\\t\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\"\n"
         "  }\n"
         "}\n"},
    };
    for (const TCase& row : cases)
        EXPECT_EQ(ReportFactsToJson(row.Facts), row.Expected) << row.Name;
}

// An unknown answer is null as one not asked, and says why beside it; the
// verdict it could change is unknown too.
TEST(ReportFactsToJson, AnUnknownAnswerIsNullWithItsErrorAndReason) {
    TReportFacts facts;
    facts.Installation = ThreeFiles();
    facts.State = Asked(Refused, Yes, Yes, Yes, TAnswer::Unknown(1722), false,
                        {{1722, L"The RPC server is unavailable"}});

    const nlohmann::json document = nlohmann::json::parse(ReportFactsToJson(facts));
    EXPECT_EQ(document["elevated"], false);
    const nlohmann::json& state = document["state"];
    EXPECT_TRUE(state["installed"].is_null());
    EXPECT_TRUE(state["serviceRunning"].is_null());
    EXPECT_EQ(state["running"], true);
    EXPECT_EQ(state["servicePresence"], true);
    EXPECT_EQ(state["unknown"], nlohmann::json::parse(R"json({
                  "installed": {"error": 5, "reason": "the answer needs an elevated prompt"},
                  "serviceRunning": {"error": 1722,
                                     "reason": "The RPC server is unavailable (error 1722)"
}
})json"));
    EXPECT_TRUE(document["verdict"]["success"].is_null());
    EXPECT_EQ(document["verdict"]["text"],
              "The state of Live Protection is unknown without elevation.");
}

// The exit code is the verdict's for a complete report, and its own for one
// with an unknown answer, whatever the verdict.
TEST(ReportExitCode, TheVerdictOrIncomplete) {
    const struct {
        const char* Name;
        TStateFacts Facts;
        int ExitCode;
    } cases[] = {
        {"active", State(true, true, true), ReportActiveExitCode},
        {"running until reboot", State(false, true, false), ReportActiveExitCode},
        {"not active", State(true, true, false), ReportInactiveExitCode},
        {"installed unknown", Asked(Refused, Yes, Yes, Yes, Yes), ReportIncompleteExitCode},
        {"a service answer unknown, the verdict known", Asked(Yes, Yes, Yes, Refused, Yes),
         ReportIncompleteExitCode},
        {"nothing asked", TStateFacts{}, ReportInactiveExitCode},
    };
    for (const auto& row : cases)
        EXPECT_EQ(ReportExitCode(row.Facts), row.ExitCode) << row.Name;
    EXPECT_EQ(ReportIncompleteExitCode, 4) << "the next code after 0, 1 (relocated), 2 and 3";
}

// Cut short, the facts not gathered are null, those gathered as ever.
TEST(ReportFactsToJson, FactsCutShortAreNull) {
    TReportFacts facts;
    facts.Installation = ThreeFiles();
    facts.Installation.Files = {Present(L"QVFSSvc.exe", std::nullopt)};
    facts.Installation.Files[0].Sha256.clear();
    facts.State = Asked(Yes, No, No, Yes, std::nullopt, true);

    const nlohmann::json document = nlohmann::json::parse(ReportFactsToJson(facts));
    ASSERT_EQ(document["files"].size(), 1u);
    const nlohmann::json& file = document["files"][0];
    EXPECT_EQ(file["sha1"], std::string(40, 'a'));
    EXPECT_TRUE(file["sha256"].is_null()) << "not computed";
    EXPECT_TRUE(file["signature"].is_null()) << "not checked";
    EXPECT_EQ(file["size"], 4096);
    EXPECT_EQ(document["windows"]["build"], 19045);
    EXPECT_EQ(document["state"]["servicePresence"], true);
    EXPECT_EQ(document["state"]["running"], false);
    EXPECT_TRUE(document["state"]["serviceRunning"].is_null());
    EXPECT_TRUE(document["verdict"]["success"].is_null()) << "no verdict before all five answers";
    EXPECT_TRUE(document["verdict"]["text"].is_null());
}

// A digest that could not be read is null, with the reason and its code
// beside it; a digest that was read has neither.
TEST(ReportFactsToJson, ADigestThatCouldNotBeReadIsNullWithTheReasonBesideIt) {
    TReportFacts facts;
    facts.Installation = ThreeFiles();
    TReportFileFacts& file = facts.Installation.Files[0];
    file.Sha1.clear();
    file.Sha1Failure = TReadFailure{32, L"The file is in use"};
    file.Sha256.clear();
    file.Sha256Failure = TReadFailure{5, L""};

    const nlohmann::json document = nlohmann::json::parse(ReportFactsToJson(facts));
    const nlohmann::json& unreadable = document["files"][0];
    EXPECT_TRUE(unreadable["sha1"].is_null());
    EXPECT_EQ(unreadable["sha1Error"], "The file is in use");
    EXPECT_EQ(unreadable["sha1ErrorCode"], 32);
    EXPECT_TRUE(unreadable["sha256"].is_null());
    EXPECT_EQ(unreadable["sha256Error"], "error 5");
    EXPECT_EQ(unreadable["sha256ErrorCode"], 5);
    EXPECT_EQ(unreadable["size"], 4096) << "the other facts as ever";
    const nlohmann::json& readable = document["files"][2];
    EXPECT_EQ(readable["sha1"], std::string(40, 'a'));
    for (const char* key : {"sha1Error", "sha1ErrorCode", "sha256Error", "sha256ErrorCode"})
        EXPECT_FALSE(readable.contains(key)) << key;
}

} // namespace
