// The facts as the report mode's JSON document.
#include "app/ReportFacts.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <utility>

#include "platform/WinText.h"

namespace {

using nlohmann::json;

json Text(const std::wstring& AText) {
    return WideToUtf8(AText);
}

// Text that was not found is null rather than an empty string.
json TextOrNull(const std::wstring& AText) {
    return AText.empty() ? json(nullptr) : Text(AText);
}

// "0x800B0109": as the system's documentation writes the codes.
json ResultOrNull(const std::optional<std::uint32_t>& AResult) {
    if (!AResult)
        return nullptr;
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(*AResult));
    return text;
}

// Not asked, or asked and unknown: null.
json AnswerOrNull(const std::optional<TAnswer>& AAnswer) {
    return AAnswer && AAnswer->IsKnown() ? json(AAnswer->IsYes()) : json(nullptr);
}

json StateToJson(const TStateFacts& AState) {
    const std::pair<const char*, const std::optional<TAnswer>*> answers[] = {
        {"servicePresence", &AState.ServicePresence},
        {"serviceRunning", &AState.ServiceRunning},
        {"installed", &AState.Installed},
        {"running", &AState.Running},
        {"injected", &AState.Injected},
    };
    json state = json::object();
    json unknown = json::object();
    for (const auto& [name, answer] : answers) {
        state[name] = AnswerOrNull(*answer);
        if (*answer && !(*answer)->IsKnown())
            unknown[name] = {{"error", (*answer)->Error},
                             {"reason", Text(UnknownAnswerReason(AState, **answer))}};
    }
    state["unknown"] = unknown;
    return state;
}

json SignatureToJson(const std::optional<TSignatureFacts>& ASignature) {
    if (!ASignature)
        return nullptr;
    return {
        {"statusCode", ASignature->StatusCode},
        {"status", Text(ASignature->Status)},
        {"result", ResultOrNull(ASignature->Result)},
        {"message", TextOrNull(ASignature->ResultMessage)},
        {"subject", TextOrNull(ASignature->Subject)},
        {"issuer", TextOrNull(ASignature->Issuer)},
        {"serialNumber", TextOrNull(ASignature->SerialNumber)},
        {"validFrom", TextOrNull(ASignature->ValidFrom)},
        {"validTo", TextOrNull(ASignature->ValidTo)},
    };
}

json FileToJson(const TReportFileFacts& AFile) {
    json file = {
        {"name", Text(AFile.Name)}, {"path", Text(AFile.Path)}, {"present", AFile.Present}};
    if (!AFile.Present)
        return file;
    file["size"] = AFile.Size;
    file["fileVersion"] = Text(AFile.FileVersion);
    file["productVersion"] = Text(AFile.ProductVersion);
    // A digest that could not be read is null, with the reason beside it.
    const auto digest = [&file](const char* AName, const std::wstring& ADigest,
                                const std::optional<TReadFailure>& AFailure) {
        if (!AFailure) {
            file[AName] = TextOrNull(ADigest);
            return;
        }
        file[AName] = nullptr;
        file[std::string(AName) + "Error"] = Text(FailureText(*AFailure));
        file[std::string(AName) + "ErrorCode"] = AFailure->Code;
    };
    digest("sha1", AFile.Sha1, AFile.Sha1Failure);
    digest("sha256", AFile.Sha256, AFile.Sha256Failure);
    file["signature"] = SignatureToJson(AFile.Signature);
    return file;
}

json WindowsToJson(const std::optional<TWindowsFacts>& AWindows) {
    if (!AWindows)
        return nullptr;
    return {{"name", Text(AWindows->Name)},
            {"version", Text(AWindows->Version)},
            {"major", AWindows->Major},
            {"minor", AWindows->Minor},
            {"build", AWindows->Build}};
}

} // namespace

std::string ReportFactsToJson(const TReportFacts& AFacts) {
    const TInstallationFacts& installation = AFacts.Installation;
    json files = json::array();
    for (const TReportFileFacts& file : installation.Files)
        files.push_back(FileToJson(file));
    const TStateFacts state = AFacts.State.value_or(TStateFacts{});
    const std::optional<TVerdictFacts> verdict = StateVerdictOf(state);
    const json document = {
        {"windows", WindowsToJson(installation.Windows)},
        {"programFolder", installation.Windows ? Text(installation.ProgramFolder) : json(nullptr)},
        {"files", files},
        {"elevated", AFacts.State ? json(state.Elevated) : json(nullptr)},
        {"state", StateToJson(state)},
        {"verdict",
         {{"success", verdict && verdict->Success ? json(*verdict->Success) : json(nullptr)},
          {"text", verdict ? Text(verdict->Text) : json(nullptr)}}},
    };
    // A lone surrogate became a replacement character on the way to UTF-8;
    // whatever else is not valid UTF-8 is replaced too rather than raising.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
