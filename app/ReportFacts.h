// The facts of the start-up report and the state test, gathered once and then
// rendered twice: as the log's lines (the window, the report mode's text) and
// as the report mode's JSON document. Free of platform headers.
//
// Gathering stops at an error; the facts then hold what was gathered until
// it, and each renderer writes just that: the log shows the lines it would
// have shown had it been written question by question.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/StateTest.h"
#include "platform/Answer.h"

// The trust check's status code for a trusted file (tsSuccess); every other
// status is a failure line.
inline constexpr int TrustedStatusCode = 0;

struct TSignatureFacts {
    int StatusCode = 0;
    std::wstring Status;                 // the words the log writes
    std::optional<std::uint32_t> Result; // the check's raw result, the reason beside the words
    std::wstring ResultMessage;          // the system's text for it
    // The signer's details; empty where the check found none.
    std::wstring Subject;
    std::wstring Issuer;
    std::wstring SerialNumber;
    std::wstring ValidFrom; // ISO 8601, the machine's local time
    std::wstring ValidTo;
};

// Why a file's digest could not be read: the system's error code and its text.
struct TReadFailure {
    std::uint32_t Code = 0;
    std::wstring Message;
};

struct TReportFileFacts {
    std::wstring Name;
    std::wstring Path;
    bool Present = false;
    // The rest only for a present file.
    std::uint64_t Size = 0;
    std::wstring FileVersion;
    std::wstring ProductVersion;
    // Each digest as the log writes it, or why it could not be read.
    std::wstring Sha1;
    std::optional<TReadFailure> Sha1Failure;
    std::wstring Sha256;
    std::optional<TReadFailure> Sha256Failure;
    // None for a file not checked: missing when its turn came, or the
    // gathering ended before it.
    std::optional<TSignatureFacts> Signature;
};

struct TWindowsFacts {
    std::wstring Name;    // without numbers
    std::wstring Version; // as the log writes it, with numbers
    std::uint32_t Major = 0;
    std::uint32_t Minor = 0;
    std::uint32_t Build = 0;
};

// The installation report, in the order it is gathered.
struct TInstallationFacts {
    std::optional<TWindowsFacts> Windows;
    std::wstring ProgramFolder;          // with Windows
    std::vector<TReportFileFacts> Files; // in the table's order, as far as gathered
    bool SignaturesBegun = false;        // every file was looked at; the checks began
};

// The state test's five answers; the driver's three are asked first. None
// for a question not asked.
struct TStateFacts {
    std::optional<TAnswer> Installed, Running, Injected;
    std::optional<TAnswer> ServicePresence, ServiceRunning;
    // Whether the questions were asked elevated, and the system's words for
    // each error that kept an answer unknown.
    bool Elevated = true;
    std::map<std::uint32_t, std::wstring> ErrorTexts;
};

struct TReportFacts {
    TInstallationFacts Installation;
    // None when the installation report ended in an error: the state test
    // would not have run after it.
    std::optional<TStateFacts> State;
};

// The state test's verdict line: none until all five answers are there.
// Success is none for the line that says the state is unknown, which
// stands where an answer the verdict depends on is unknown.
struct TVerdictFacts {
    std::optional<bool> Success;
    std::wstring Text;
};
std::optional<TVerdictFacts> StateVerdictOf(const TStateFacts& AFacts);
inline constexpr const wchar_t* UnknownStateText = L"The state of Live Protection is unknown.";
inline constexpr const wchar_t* UnknownStateWithoutElevationText =
    L"The state of Live Protection is unknown without elevation.";

// Why an answer is unknown, as its line and the JSON say it: that it needs an
// elevated prompt (refused access, not elevated), or the system's words and code.
std::wstring UnknownAnswerReason(const TStateFacts& AFacts, const TAnswer& AAnswer);
inline constexpr const wchar_t* NeedsElevationReason = L"the answer needs an elevated prompt";

// Whether an answer that was asked is unknown: the report is then incomplete.
bool HasUnknownAnswer(const TStateFacts& AFacts);

// The facts as the window shows them: its questions answer no where they
// cannot find out, so every unknown answer is a no there.
TStateFacts UnknownAnswersAsNo(TStateFacts AFacts);
TReportFacts UnknownAnswersAsNo(TReportFacts AFacts);

// A read failure as the report words it: the system's text, or the bare code
// where the system has none.
std::wstring FailureText(const TReadFailure& AFailure);

// The log's lines, each without its line break.
std::vector<std::wstring> InstallationReportLines(const TInstallationFacts& AFacts);
std::vector<std::wstring> StateTestLines(const TStateFacts& AFacts);
std::vector<std::wstring> ReportLines(const TReportFacts& AFacts);

// One JSON document (UTF-8, two-space indentation, ending with a line break).
// A fact not gathered is null: the Windows block, a state answer, the verdict
// before all five answers; files not reached are not listed. An unknown
// answer is null too, with its error and reason under "state.unknown".
std::string ReportFactsToJson(const TReportFacts& AFacts);
