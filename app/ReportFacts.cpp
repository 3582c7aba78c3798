#include "ReportFacts.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

using nlohmann::json;

// Text that was not found is null rather than an empty string.
json TextOrNull(const std::string& AText) {
    return AText.empty() ? json(nullptr) : json(AText);
}

// "0x800B0109": as the system's documentation writes the codes.
json ResultOrNull(const std::optional<std::uint32_t>& AResult) {
    if (!AResult)
        return nullptr;
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(*AResult));
    return text;
}

json AnswerOrNull(const std::optional<bool>& AAnswer) {
    return AAnswer ? json(*AAnswer) : json(nullptr);
}

json FileToJson(const TReportFileFacts& AFile) {
    json file = {{"name", AFile.Name}, {"path", AFile.Path}, {"present", AFile.Present}};
    if (!AFile.Present)
        return file;
    file["size"] = AFile.Size;
    file["fileVersion"] = AFile.FileVersion;
    file["productVersion"] = AFile.ProductVersion;
    file["sha1"] = AFile.Sha1;
    file["sha256"] = TextOrNull(AFile.Sha256);
    if (AFile.Checked) {
        file["signature"] = {
            {"statusCode", AFile.StatusCode},
            {"status", AFile.Status},
            {"result", ResultOrNull(AFile.Result)},
            {"message", TextOrNull(AFile.ResultMessage)},
            {"subject", TextOrNull(AFile.Subject)},
            {"issuer", TextOrNull(AFile.Issuer)},
            {"serialNumber", TextOrNull(AFile.SerialNumber)},
            {"validFrom", TextOrNull(AFile.ValidFrom)},
            {"validTo", TextOrNull(AFile.ValidTo)},
        };
    } else {
        file["signature"] = nullptr;
    }
    return file;
}

} // namespace

std::string ReportFactsToJson(const TReportFacts& AFacts) {
    json files = json::array();
    for (const TReportFileFacts& file : AFacts.Files)
        files.push_back(FileToJson(file));
    const json document = {
        {"windows",
         {{"name", AFacts.WindowsName},
          {"version", AFacts.WindowsVersion},
          {"major", AFacts.WindowsMajor},
          {"minor", AFacts.WindowsMinor},
          {"build", AFacts.WindowsBuild}}},
        {"programFolder", AFacts.ProgramFolder},
        {"files", files},
        {"state",
         {{"servicePresence", AnswerOrNull(AFacts.ServicePresence)},
          {"serviceRunning", AnswerOrNull(AFacts.ServiceRunning)},
          {"installed", AnswerOrNull(AFacts.Installed)},
          {"running", AnswerOrNull(AFacts.Running)},
          {"injected", AnswerOrNull(AFacts.Injected)}}},
        {"verdict", {{"success", AnswerOrNull(AFacts.VerdictSuccess)}, {"text", AFacts.Verdict}}},
    };
    // Text that is not valid UTF-8 is replaced rather than raising.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
