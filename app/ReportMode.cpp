#include "app/ReportMode.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "app/CommandLineUse.h"
#include "app/ConsoleServices.h"
#include "app/ReportGathering.h"
#include "diagnostics/CommandLineParameters.h"
#include "platform/HandleIO.h"
#include "platform/Handles.h"
#include "platform/SystemMessage.h"
#include "platform/WholeOrNothing.h"
#include "platform/WinText.h"

namespace {

// A program of the windows subsystem has standard handles only when its
// starter handed them over (a redirection, a pipe); started from a console
// without one, it writes to its parent's console.
class TStandardStream {
public:
    explicit TStandardStream(DWORD AWhich) {
        HANDLE handle = ::GetStdHandle(AWhich);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            if (::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED) {
                FConsole.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
            }
            handle = FConsole ? FConsole.get() : nullptr;
        }
        FHandle = handle;
    }

    // A console gets the text as characters, anything else UTF-8 bytes.
    bool Write(const std::string& AUtf8) {
        if (!FHandle)
            return false;
        DWORD mode = 0;
        if (::GetConsoleMode(FHandle, &mode)) {
            const std::wstring text = Utf8ToWide(AUtf8);
            DWORD written = 0;
            return ::WriteConsoleW(FHandle, text.data(), static_cast<DWORD>(text.size()), &written,
                                   nullptr) &&
                   written == text.size();
        }
        const DWORD error = WriteAll(FHandle, AUtf8);
        ::SetLastError(error);
        return error == 0;
    }

private:
    HANDLE FHandle = nullptr;
    TFileHandle FConsole;
};

void WriteErrorLine(const std::wstring& AText) {
    TStandardStream(STD_ERROR_HANDLE).Write(WideToUtf8(L"derodo: " + AText + L"\r\n"));
}

// Raises with the system's words when the report cannot be written whole.
void WriteReport(const std::wstring& APath, const std::string& AText) {
    if (APath == L"-") {
        if (!TStandardStream(STD_OUTPUT_HANDLE).Write(AText))
            throw std::runtime_error(WideToUtf8(L"Cannot write the report to standard output. " +
                                                SystemMessage(::GetLastError())));
        return;
    }
    if (const DWORD error = WriteWholeOrNothing(APath, AText))
        throw std::runtime_error(
            WideToUtf8(L"Cannot write the report to \"" + APath + L"\". " + SystemMessage(error)));
}

// The report's text and its exit code.
std::pair<std::string, int> ProduceReport(bool AJson) {
    TSystemConsoleServices services;
    const TGathered<TReportFacts> gathered =
        GatherStartUpFacts(services, AJson ? TFactsFor::Json : TFactsFor::Log);
    if (gathered.Error)
        std::rethrow_exception(gathered.Error);
    const int exitCode = ReportExitCode(gathered.Facts.State.value_or(TStateFacts{}));
    if (AJson)
        return {ReportFactsToJson(gathered.Facts), exitCode};
    return {LogLinesToText(ReportLines(gathered.Facts)), exitCode};
}

TCLPGroup* GReportGroup = nullptr;

} // namespace

int ReportExitCode(const TStateFacts& AState) {
    if (HasUnknownAnswer(AState))
        return ReportIncompleteExitCode;
    const std::optional<TVerdictFacts> verdict = StateVerdictOf(AState);
    return verdict && verdict->Success.value_or(false) ? ReportActiveExitCode
                                                       : ReportInactiveExitCode;
}

std::string LogLinesToText(const std::vector<std::wstring>& ALines) {
    std::wstring text;
    for (const std::wstring& line : ALines)
        text += line + L"\r\n";
    return WideToUtf8(text);
}

int RunReport(TModuleSequence& AModules, const TReportRequest& ARequest) {
    // No box of the system's either: a missing medium or a crash is an exit code.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    int exitCode = ReportNotWrittenExitCode;
    try {
        if (ARequest.Path.empty())
            throw std::runtime_error("No file given: /report:<file>, or /report:- for standard "
                                     "output.");
        AModules.StartUp();
        const auto [text, reportCode] = ProduceReport(ARequest.Json);
        WriteReport(ARequest.Path, text);
        exitCode = reportCode;
    } catch (const std::exception& error) {
        WriteErrorLine(Utf8ToWide(error.what()));
    } catch (...) {
        WriteErrorLine(L"Unexpected error.");
    }
    AModules.ShutDown();
    return exitCode;
}

std::optional<int> RunWithoutWindow(TModuleSequence& AModules, bool AConsole) {
    const TCommandLineParameters& parameters = CommandLineParameters();
    const TCommandLineDecision decision =
        DecideCommandLine(ProcessArguments(), AConsole, [&](const std::wstring& AArgument) {
            return parameters.Declares(AArgument);
        });
    switch (decision.Use) {
    case cuWindow:
        return std::nullopt;
    case cuHelp: {
        std::vector<std::wstring> lines;
        parameters.ToLines(lines);
        if (TStandardStream(STD_OUTPUT_HANDLE).Write(LogLinesToText(lines)))
            return 0;
        WriteErrorLine(L"Cannot write the help page to standard output. " +
                       SystemMessage(::GetLastError()));
        return ReportNotWrittenExitCode;
    }
    case cuReport:
        return RunReport(AModules, {decision.Path, decision.Json});
    case cuRefused:
        break;
    }
    WriteErrorLine(decision.Refusal);
    return ReportNotWrittenExitCode;
}

void ReportParametersStartUp() {
    TCommandLineParameters& parameters = CommandLineParameters();
    if (parameters.IndexOf(GReportGroup) != parameters.Count())
        return;
    GReportGroup = &parameters.Add();
    GReportGroup->SetGroupName(L"Report");
    GReportGroup->SetDescription(L"The report without a window; exit code 0 active, 2 not "
                                 L"active, 3 not written, 4 incomplete");
    GReportGroup->SetNecessity(gnAllOptional);
    GReportGroup
        ->AddParameter(L"report", L"writes the start-up report and the state test to <file> "
                                  L"(UTF-8), \"-\" for standard output")
        .SetSyntax(L"report:<file>");
    GReportGroup->AddParameter(L"json",
                               L"with /report: writes the same facts as one JSON document");
}
