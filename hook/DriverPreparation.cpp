// Driver preparation: the product's own pair of injection drivers, built from
// the hooking library's driver templates with its configuration tool and
// signed with the signing tool.
#include "hook/MadCodeHookImplementation.h"

#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "fileinfo/TrustChecker.h"
#include "hook/ProcessRunner.h"
#include "platform/ProgramPath.h"
#include "platform/WholeOrNothing.h"

namespace {

constexpr const wchar_t* Description32 = L"Vexlo On Access 32 bit driver";
constexpr const wchar_t* Description64 = L"Vexlo On Access 64 bit driver";

std::wstring Quoted(const std::wstring& AText) {
    return L"\"" + AText + L"\"";
}

} // namespace

std::wstring TMadCodeHookImplementation::GetFilename(TBlendFileKind AKind) const {
    switch (AKind) {
    case bfkConfigurationTool:
        return FDriverPath + ConfigurationToolName;
    case bfkSignTool:
        return FSignToolFilename;
    case bfkTemplate32:
        return FDriverPath + Template32Name;
    case bfkTemplate64:
        return FDriverPath + Template64Name;
    case bfkDriver32:
        return FDriverFilename32;
    case bfkDriver64:
        return FDriverFilename64;
    case bfkLibrary32:
        return FLibraryFilename32;
    case bfkLibrary64:
        return FLibraryFilename64;
    }
    return {};
}

std::wstring
TMadCodeHookImplementation::GetSignToolCommandLine(const std::wstring& AFilename,
                                                   const std::wstring& ADescription) const {
    return L"sign /v /ph /ac " + FMSCVVSClass3Filename + L" /n " + Quoted(FSignatureLookupString) +
           L" /d " + Quoted(ADescription) + L" /du " + FURL + L" /t " + TimeStampURL + L" " +
           Quoted(AFilename);
}

bool TMadCodeHookImplementation::RunTool(TBlendFileKind ATool, const std::wstring& AParameters) {
    const TProcessRun run = RunProcess(GetFilename(ATool), AParameters);
    FLog.insert(FLog.end(), run.Output.begin(), run.Output.end());
    FLog.insert(FLog.end(), run.Errors.begin(), run.Errors.end());
    return run.Started && run.ExitCode == 0;
}

bool TMadCodeHookImplementation::BlendFiles() {
    const auto fail = [this](const std::wstring& ALine) {
        FLog.push_back(ALine);
        return false;
    };
    FLog.clear();

    const std::pair<const std::wstring&, const wchar_t*> settings[] = {
        {FDriverName, L"No driver name specified, exiting."},
        {FDriverFilename32, L"No 32 bit driver specified, exiting."},
        {FDriverFilename64, L"No 64 bit driver specified, exiting."},
        {FLibraryFilename32, L"No 32 bit library specified, exiting."},
        {FLibraryFilename64, L"No 64 bit library specified, exiting."},
    };
    for (const auto& [setting, line] : settings)
        if (setting.empty())
            return fail(line);

    if (!FileExists(GetFilename(bfkSignTool)))
        return fail(L"Could not find signtool.exe, expected it at " + GetFilename(bfkSignTool));
    const std::pair<TBlendFileKind, const wchar_t*> hookingLibraryFiles[] = {
        {bfkConfigurationTool, ConfigurationToolName},
        {bfkTemplate32, Template32Name},
        {bfkTemplate64, Template64Name},
    };
    for (const auto& [kind, name] : hookingLibraryFiles)
        if (!FileExists(GetFilename(kind)))
            return fail(std::wstring(L"Could not find ") + name + L", expected it at " +
                        GetFilename(kind));
    for (const TBlendFileKind driver : {bfkDriver32, bfkDriver64})
        if (FileExists(GetFilename(driver)) && !::DeleteFileW(GetFilename(driver).c_str()))
            return fail(L"Could not delete " + GetFilename(driver) + L", still in use maybe?");
    FLog.push_back(L"");

    // Both libraries are signed with the 32-bit description.
    const std::pair<TBlendFileKind, const wchar_t*> libraries[] = {{bfkLibrary32, L"32"},
                                                                   {bfkLibrary64, L"64"}};
    for (const auto& [library, bits] : libraries) {
        if (FileTrustStatus(GetFilename(library)) == tsSuccess)
            continue;
        FLog.push_back(std::wstring(bits) + L" bit library not signed, trying to sign.....");
        if (!RunTool(bfkSignTool, GetSignToolCommandLine(GetFilename(library), Description32)))
            return false;
        FLog.push_back(std::wstring(L"Signed ") + bits + L" bit library.");
    }
    FLog.push_back(L"");

    const std::tuple<TBlendFileKind, TBlendFileKind, const wchar_t*> copies[] = {
        {bfkTemplate32, bfkDriver32, L"32"}, {bfkTemplate64, bfkDriver64, L"64"}};
    for (const auto& [from, to, bits] : copies) {
        // Whole or not at all: a copy cut short would be configured and
        // started as a driver.
        std::string driver;
        if (ReadUnheldFile(GetFilename(from),
                           [&driver](std::string_view AChunk) { driver += AChunk; }) != 0 ||
            WriteWholeOrNothing(GetFilename(to), driver) != 0)
            return fail(std::wstring(L"Could not copy ") + bits + L" bit driver " +
                        GetFilename(from) + L" to " + GetFilename(to) + L"!");
        FLog.push_back(std::wstring(L"Fresh copy of ") + bits + L" bit driver created.");
    }

    // The paths are quoted: the product's folder usually lies below
    // "Program Files", and an unquoted path would reach the tool in pieces.
    FLog.push_back(L"");
    if (!RunTool(bfkConfigurationTool, Quoted(GetFilename(bfkDriver32)) + L" " + FDriverName +
                                           L" " + Quoted(GetFilename(bfkLibrary32)) +
                                           L" -unsafeStopAllowed"))
        return false;
    FLog.push_back(L"Configured 32 bit driver.");
    FLog.push_back(L"");
    if (!RunTool(bfkConfigurationTool, Quoted(GetFilename(bfkDriver64)) + L" " + FDriverName +
                                           L" " + Quoted(GetFilename(bfkLibrary32)) + L" " +
                                           Quoted(GetFilename(bfkLibrary64)) +
                                           L" -unsafeStopAllowed"))
        return false;
    FLog.push_back(L"Configured 64 bit driver.");

    FLog.push_back(L"");
    if (!RunTool(bfkSignTool, GetSignToolCommandLine(GetFilename(bfkDriver32), Description32)))
        return false;
    FLog.push_back(L"Signed 32 bit driver.");
    FLog.push_back(L"");
    if (!RunTool(bfkSignTool, GetSignToolCommandLine(GetFilename(bfkDriver64), Description64)))
        return false;
    FLog.push_back(L"Signed 64 bit driver.");
    return true;
}
