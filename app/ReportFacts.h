// The facts of the start-up report and the state test, as the report mode
// writes them in JSON: everything the log shows and what a support engineer
// needs to look the files up (size, SHA-256, the signer in full). Free of
// platform headers; text is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TReportFileFacts {
    std::string Name;
    std::string Path;
    bool Present = false;
    // The rest only for a present file.
    std::uint64_t Size = 0;
    std::string FileVersion;
    std::string ProductVersion;
    std::string Sha1;   // as the log writes it
    std::string Sha256; // empty when it could not be computed
    // The signature check; its details are empty where the check found none.
    bool Checked = false;
    int StatusCode = 0;
    std::string Status;                  // the words the log writes
    std::optional<std::uint32_t> Result; // the check's raw result, the reason beside the words
    std::string ResultMessage;           // the system's text for it
    std::string Subject;
    std::string Issuer;
    std::string SerialNumber;
    std::string ValidFrom; // ISO 8601, the machine's local time
    std::string ValidTo;
};

struct TReportFacts {
    std::string WindowsName;    // without numbers
    std::string WindowsVersion; // as the log writes it, with numbers
    std::uint32_t WindowsMajor = 0;
    std::uint32_t WindowsMinor = 0;
    std::uint32_t WindowsBuild = 0;
    std::string ProgramFolder;
    std::vector<TReportFileFacts> Files;
    // The state test's five answers, in the order the log writes them.
    std::optional<bool> ServicePresence, ServiceRunning, Installed, Running, Injected;
    std::optional<bool> VerdictSuccess;
    std::string Verdict;
};

// One JSON document (UTF-8, two-space indentation, ending with a line break).
std::string ReportFactsToJson(const TReportFacts& AFacts);
