#include "diagnostics/CommandLineParameters.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "diagnostics/CommandLineSwitch.h"
#include "fileinfo/PEHeaders.h"
#include "platform/Handles.h"
#include "platform/StandardStream.h"
#include "platform/WinText.h"

namespace {

std::unique_ptr<TCommandLineParameters> GParameters;
TCLPGroup* GBasicGroup = nullptr;
TCLPGroup* GAutomationGroup = nullptr;

// Ordinal comparison ignoring case, the same for every user locale.
int CompareText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) -
           CSTR_EQUAL;
}

// "%-20s": left-aligned in at least 20 characters, never cut.
std::wstring Padded(const std::wstring& AText) {
    return AText.size() >= 20 ? AText : AText + std::wstring(20 - AText.size(), L' ');
}

} // namespace

// ---------------------------------------------------------------- command line

std::vector<std::wstring> ProcessArguments() {
    int count = 0;
    TLocalMemory arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
    std::vector<std::wstring> result;
    if (!arguments)
        return result;
    const auto* words = static_cast<const wchar_t* const*>(arguments.get());
    for (int index = 1; index < count; ++index)
        result.emplace_back(words[index]);
    return result;
}

bool FindCmdLineSwitch(const std::vector<std::wstring>& AArguments, const std::wstring& AWord) {
    for (const std::wstring& argument : AArguments)
        if (IsCmdLineSwitch(argument, AWord))
            return true;
    return false;
}

bool FindCmdLineSwitch(const std::wstring& AWord) {
    return FindCmdLineSwitch(ProcessArguments(), AWord);
}

std::optional<std::wstring> FindCmdLineValue(const std::vector<std::wstring>& AArguments,
                                             const std::wstring& AWord) {
    for (const std::wstring& argument : AArguments) {
        if (IsCmdLineValueSwitch(argument, AWord))
            return argument.substr(argument.find(L':') + 1);
    }
    return std::nullopt;
}

bool IsConsoleProgram() {
    // The headers of the running program lie in its first page, which is
    // always mapped.
    const auto* base = reinterpret_cast<const char*>(::GetModuleHandleW(nullptr));
    TPEHeaders headers;
    return ReadPEHeaders(BytesPEReader(std::string_view(base, 4096)), headers) ==
               TPEHeadersFault::phNone &&
           headers.Subsystem == PESubsystemConsole;
}

// ---------------------------------------------------------------- parameter

void TCommandLineParameterItem::SetParameterName(const std::wstring& AValue) {
    if (AValue != FParameterName && FSyntax.empty())
        FSyntax = AValue;
    FParameterName = AValue;
    FIsSet = FindCmdLineSwitch(FParameterName);
}

bool TCommandLineParameterItem::MatchesString(const std::wstring& AText) const {
    return NamesParameter(AText, FParameterName);
}

bool TCommandLineParameterItem::MatchesString(const std::string& AText) const {
    return MatchesString(AnsiToWide(AText));
}

void TCommandLineParameterItem::Assign(const TCommandLineParameterItem& ASource) {
    FParameterName = ASource.FParameterName;
    FSyntax = ASource.FSyntax;
    FDescription = ASource.FDescription;
}

std::wstring TCommandLineParameterItem::GetDisplayName() const {
    return FParameterName.empty() ? L"TCommandLineParameterItem" : FParameterName;
}

TCommandLineParameterItem*
TCommandLineParameterItems::FindParameterName(const std::wstring& AValue) const {
    return FindFirst([&](const auto& item) { return item.ParameterName() == AValue; });
}

TCommandLineParameterItem*
TCommandLineParameterItems::FindSyntax(const std::wstring& AValue) const {
    return FindFirst([&](const auto& item) { return item.Syntax() == AValue; });
}

TCommandLineParameterItem*
TCommandLineParameterItems::FindDescription(const std::wstring& AValue) const {
    return FindFirst([&](const auto& item) { return item.Description() == AValue; });
}

void TCommandLineParameterItems::SortParameterName() {
    SortBy([](const auto& a, const auto& b) {
        return CompareText(a.ParameterName(), b.ParameterName()) < 0;
    });
}

void TCommandLineParameterItems::SortSyntax() {
    SortBy([](const auto& a, const auto& b) { return CompareText(a.Syntax(), b.Syntax()) < 0; });
}

void TCommandLineParameterItems::SortDescription() {
    SortBy([](const auto& a, const auto& b) {
        return CompareText(a.Description(), b.Description()) < 0;
    });
}

// ---------------------------------------------------------------- group

void TCLPGroup::SetParameters(const TCommandLineParameterItems& AValue) {
    if (&AValue == FParameters.get())
        return;
    FParameters->Clear();
    for (std::size_t index = 0; index < AValue.Count(); ++index)
        FParameters->Add().Assign(AValue.Items(index));
}

TCommandLineParameterItem& TCLPGroup::AddParameter(const std::wstring& AName,
                                                   const std::wstring& ADescription) {
    TCommandLineParameterItem& item = FParameters->Add();
    item.SetParameterName(AName);
    item.SetDescription(ADescription);
    return item;
}

std::wstring TCLPGroup::ItemText() const {
    std::wstring text;
    for (std::size_t index = 0; index < FParameters->Count(); ++index) {
        if (index > 0)
            text += L",";
        text += FParameters->Items(index).Syntax();
    }
    return text;
}

void TCLPGroup::Assign(const TCLPGroup& ASource) {
    FNecessity = ASource.FNecessity;
    SetParameters(*ASource.FParameters);
    FGroupName = ASource.FGroupName;
    FDescription = ASource.FDescription;
}

std::wstring TCLPGroup::GetDisplayName() const {
    return FGroupName.empty() ? L"TCLPGroup" : FGroupName;
}

// ---------------------------------------------------------------- registry

TCLPGroup* TCommandLineParameters::FindGroupName(const std::wstring& AValue) const {
    return FindFirst([&](const auto& group) { return group.GroupName() == AValue; });
}

TCLPGroup* TCommandLineParameters::FindDescription(const std::wstring& AValue) const {
    return FindFirst([&](const auto& group) { return group.Description() == AValue; });
}

TCLPGroup* TCommandLineParameters::FindNecessity(TGroupNecessities AValue) const {
    return FindFirst([&](const auto& group) { return group.Necessity() == AValue; });
}

TCLPGroup*
TCommandLineParameters::FindParameters(const TCommandLineParameterItems* AParameters) const {
    return FindFirst([&](const auto& group) { return &group.Parameters() == AParameters; });
}

void TCommandLineParameters::SortGroupName() {
    SortBy(
        [](const auto& a, const auto& b) { return CompareText(a.GroupName(), b.GroupName()) < 0; });
}

void TCommandLineParameters::SortDescription() {
    SortBy([](const auto& a, const auto& b) {
        return CompareText(a.Description(), b.Description()) < 0;
    });
}

void TCommandLineParameters::SortNecessity() {
    SortBy([](const auto& a, const auto& b) { return a.Necessity() < b.Necessity(); });
}

void TCommandLineParameters::SortParameters() {
    SortBy(
        [](const auto& a, const auto& b) { return CompareText(a.ItemText(), b.ItemText()) < 0; });
}

void TCommandLineParameters::ToLines(std::vector<std::wstring>& ALines) const {
    for (std::size_t index = 0; index < Count(); ++index) {
        const TCLPGroup& group = Items(index);
        const TCommandLineParameterItems& parameters = group.Parameters();
        if (parameters.Count() == 0)
            continue;
        ALines.emplace_back();
        if (group.Description().empty())
            ALines.push_back(Padded(group.GroupName()));
        else
            ALines.push_back(Padded(group.GroupName()) + L"    - " + group.Description());
        for (std::size_t item = 0; item < parameters.Count(); ++item) {
            const TCommandLineParameterItem& parameter = parameters.Items(item);
            ALines.push_back(L"  /" + Padded(parameter.Syntax()) + L" - " +
                             parameter.Description());
        }
    }
}

void TCommandLineParameters::WriteLn() const {
    std::vector<std::wstring> lines;
    ToLines(lines);
    if (!IsConsoleProgram())
        return;
    std::wstring text;
    for (const std::wstring& line : lines)
        text += line + L"\r\n";
    TStandardStream(STD_OUTPUT_HANDLE).Write(WideToUtf8(text));
}

bool TCommandLineParameters::Declares(const std::wstring& AArgument) const {
    for (std::size_t index = 0; index < Count(); ++index) {
        const TCommandLineParameterItems& parameters = Items(index).Parameters();
        for (std::size_t item = 0; item < parameters.Count(); ++item) {
            const TCommandLineParameterItem& parameter = parameters.Items(item);
            const std::wstring& name = parameter.ParameterName();
            // A parameter written "name:<value>" in the help page takes its value after a colon.
            const bool takesValue =
                parameter.Syntax().size() > name.size() && parameter.Syntax()[name.size()] == L':';
            if (takesValue ? IsCmdLineValueSwitch(AArgument, name)
                           : IsCmdLineSwitch(AArgument, name))
                return true;
        }
    }
    return false;
}

void TCommandLineParameters::TestWriteLn() const {
    if (FindCmdLineSwitch(L"help") || FindCmdLineSwitch(L"?") || FindCmdLineSwitch(L"man")) {
        WriteLn();
        std::exit(0);
    }
}

// ---------------------------------------------------------------- process-wide

TCommandLineParameters& CommandLineParameters() {
    if (!GParameters)
        GParameters = std::make_unique<TCommandLineParameters>();
    return *GParameters;
}

namespace {

// The group made by the first call; made again if it has been deleted since.
TCLPGroup& KnownGroup(TCLPGroup*& AGroup, const wchar_t* AName, const wchar_t* ADescription) {
    TCommandLineParameters& parameters = CommandLineParameters();
    if (parameters.IndexOf(AGroup) == parameters.Count()) {
        AGroup = &parameters.Add();
        AGroup->SetGroupName(AName);
        AGroup->SetDescription(ADescription);
        AGroup->SetNecessity(gnAllOptional);
    }
    return *AGroup;
}

} // namespace

TCLPGroup& BasicParameterGroup() {
    return KnownGroup(GBasicGroup, L"Basic", L"");
}

TCLPGroup& AutomationParameterGroup() {
    return KnownGroup(GAutomationGroup, L"Automation", L"Options to automate this program");
}

void CommandLineParametersStartUp() {
    TCLPGroup& basic = BasicParameterGroup();
    basic.AddParameter(L"help", L"shows this page");
    basic.AddParameter(L"verbose", L"displays more output");
    AutomationParameterGroup().AddParameter(L"silent", L"avoid unnecessary output");
}

void CommandLineParametersShutDown() {
    GBasicGroup = nullptr;
    GAutomationGroup = nullptr;
    GParameters.reset();
}
