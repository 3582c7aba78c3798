// The facts as the log's lines: the start-up report's three blocks and the
// state test's eight lines, each line as far as its facts were gathered.
#include "app/ReportFacts.h"

#include "app/ConsoleLog.h"

namespace {

void Section(std::vector<std::wstring>& ALines, const std::wstring& ATitle) {
    ALines.emplace_back();
    ALines.push_back(SectionLine(ATitle));
}

// As "%*s" formats: right-aligned in AWidth characters, never cut.
std::wstring RightAligned(const std::wstring& AText, size_t AWidth) {
    return AText.size() < AWidth ? std::wstring(AWidth - AText.size(), L' ') + AText : AText;
}

} // namespace

std::wstring FailureText(const TReadFailure& AFailure) {
    return AFailure.Message.empty() ? L"error " + std::to_wstring(AFailure.Code) : AFailure.Message;
}

std::vector<std::wstring> InstallationReportLines(const TInstallationFacts& AFacts) {
    std::vector<std::wstring> lines;
    // The section comes before its first question, so an error in that
    // question still leaves the section's title.
    Section(lines, L"Windows");
    if (!AFacts.Windows)
        return lines;
    lines.push_back(InfoLine(L"Windows Version: " + AFacts.Windows->Version));
    lines.push_back(InfoLine(AFacts.ProgramFolder));

    Section(lines, L"Versions");
    for (const TReportFileFacts& file : AFacts.Files) {
        if (!file.Present) {
            lines.push_back(ResultLine(false, L"Missing file: " + file.Path));
            continue;
        }
        // "%20s - file %10s product %10s hash %s"; a digest that could not be
        // read is a failure line that says why where the digest would stand.
        const std::wstring versions = RightAligned(file.Name, 20) + L" - file " +
                                      RightAligned(file.FileVersion, 10) + L" product " +
                                      RightAligned(file.ProductVersion, 10) + L" hash ";
        if (file.Sha1Failure)
            lines.push_back(
                ResultLine(false, versions + L"unreadable: " + FailureText(*file.Sha1Failure)));
        else
            lines.push_back(InfoLine(versions + file.Sha1));
    }
    if (!AFacts.SignaturesBegun)
        return lines;

    Section(lines, L"Signature Test");
    for (const TReportFileFacts& file : AFacts.Files) {
        if (!file.Signature)
            continue;
        // "%20s - %s - subject %s"
        lines.push_back(ResultLine(file.Signature->StatusCode == TrustedStatusCode,
                                   RightAligned(file.Name, 20) + L" - " + file.Signature->Status +
                                       L" - subject " + file.Signature->Subject));
    }
    return lines;
}

namespace {

bool NeedsElevation(const TStateFacts& AFacts, const TAnswer& AAnswer) {
    return !AAnswer.IsKnown() && AAnswer.Error == AccessDeniedError && !AFacts.Elevated;
}

// A known answer as a success or failure line; an unknown one as an
// information line with its reason, for it is neither.
std::wstring AnswerLine(const TStateFacts& AFacts, const TAnswer& AAnswer,
                        const std::wstring& ATitle) {
    if (AAnswer.IsKnown())
        return ResultLine(AAnswer.IsYes(), ATitle);
    return InfoLine(ATitle + L": unknown, " + UnknownAnswerReason(AFacts, AAnswer));
}

// The five answers, as far as asked, in the order they were asked.
template <class TFacts, class TVisit> void ForEachAnswer(TFacts& AFacts, TVisit AVisit) {
    for (auto* answer : {&AFacts.Installed, &AFacts.Running, &AFacts.Injected,
                         &AFacts.ServicePresence, &AFacts.ServiceRunning}) {
        if (*answer)
            AVisit(**answer);
    }
}

} // namespace

std::wstring UnknownAnswerReason(const TStateFacts& AFacts, const TAnswer& AAnswer) {
    if (NeedsElevation(AFacts, AAnswer))
        return NeedsElevationReason;
    const auto text = AFacts.ErrorTexts.find(AAnswer.Error);
    std::wstring code = L"error " + std::to_wstring(AAnswer.Error);
    if (text == AFacts.ErrorTexts.end() || text->second.empty())
        return code;
    return text->second + L" (" + code + L")";
}

bool HasUnknownAnswer(const TStateFacts& AFacts) {
    bool unknown = false;
    ForEachAnswer(AFacts, [&](const TAnswer& AAnswer) { unknown |= !AAnswer.IsKnown(); });
    return unknown;
}

TStateFacts UnknownAnswersAsNo(TStateFacts AFacts) {
    ForEachAnswer(AFacts, [](TAnswer& AAnswer) {
        if (!AAnswer.IsKnown())
            AAnswer = TAnswer::Of(false);
    });
    return AFacts;
}

TReportFacts UnknownAnswersAsNo(TReportFacts AFacts) {
    if (AFacts.State)
        AFacts.State = UnknownAnswersAsNo(*AFacts.State);
    return AFacts;
}

std::optional<TVerdictFacts> StateVerdictOf(const TStateFacts& AFacts) {
    if (!AFacts.Installed || !AFacts.Running || !AFacts.Injected || !AFacts.ServicePresence ||
        !AFacts.ServiceRunning)
        return std::nullopt;
    if (const std::optional<TStateVerdict> verdict =
            StateVerdict(*AFacts.Installed, *AFacts.Running, *AFacts.Injected))
        return TVerdictFacts{verdict->Success, verdict->Text};
    // Without elevation an unknown driver answer is most often one refused
    // for want of rights; the line says so only when one was.
    const bool refused = NeedsElevation(AFacts, *AFacts.Installed) ||
                         NeedsElevation(AFacts, *AFacts.Running) ||
                         NeedsElevation(AFacts, *AFacts.Injected);
    return TVerdictFacts{std::nullopt,
                         refused ? UnknownStateWithoutElevationText : UnknownStateText};
}

std::vector<std::wstring> StateTestLines(const TStateFacts& AFacts) {
    std::vector<std::wstring> lines;
    Section(lines, L"State Test");
    // The driver's answers were asked first but are written after the
    // service's; each line stands where the log had it.
    if (AFacts.ServicePresence)
        lines.push_back(AnswerLine(AFacts, *AFacts.ServicePresence, L"SERVICE PRESENCE"));
    const std::optional<TVerdictFacts> verdict = StateVerdictOf(AFacts);
    if (!verdict)
        return lines;
    lines.push_back(AnswerLine(AFacts, *AFacts.ServiceRunning, L"SERVICE RUNNING"));
    lines.push_back(AnswerLine(AFacts, *AFacts.Installed, L"INSTALLED"));
    lines.push_back(AnswerLine(AFacts, *AFacts.Running, L"RUNNING"));
    lines.push_back(AnswerLine(AFacts, *AFacts.Injected, L"INJECTED"));
    lines.push_back(verdict->Success ? ResultLine(*verdict->Success, verdict->Text)
                                     : InfoLine(verdict->Text));
    return lines;
}

std::vector<std::wstring> ReportLines(const TReportFacts& AFacts) {
    std::vector<std::wstring> lines = InstallationReportLines(AFacts.Installation);
    if (AFacts.State) {
        const std::vector<std::wstring> state = StateTestLines(*AFacts.State);
        lines.insert(lines.end(), state.begin(), state.end());
    }
    return lines;
}
