// Libraries planted beside the tool under the names of the system libraries it
// uses, as they could lie in a Downloads folder the tool is started from: with
// the load order Windows has (a program's own folder first for every library
// that is not a KnownDLL), the tool loads none of them and works as usual.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Handles.h"
#include "tests/automation/Automation.h"
#include "tests/automation/DemoCopy.h"

namespace {

namespace fs = std::filesystem;

// Every system library the tool imports or loads that is not a KnownDLL; the
// fixtures hold a planted one of each name.
const std::vector<std::wstring> PlantedLibraries = {L"bcrypt",  L"comctl32", L"crypt32",
                                                    L"version", L"wininet",  L"wintrust"};

// Those Wine is told to look for as Windows does. Not version.dll: Wine's own
// user32, a KnownDLL on Windows that imports no version.dll there, imports it,
// so under Wine every program, even one importing nothing but kernel32 and
// user32, loads a planted version.dll before its first line. That the tool
// does not import it is checked on its import table.
const std::vector<std::wstring> NativeFirstLibraries = {L"bcrypt", L"comctl32", L"crypt32",
                                                        L"wininet", L"wintrust"};

// Wine takes its own builtin library unless told to look for a native one
// first, which it then searches for as Windows does. Told so for the tool's
// program name while this lives, in the prefix's settings: a
// WINEDLLOVERRIDES set here would not reach the programs started from here.
class TNativeLibrariesFirst {
public:
    TNativeLibrariesFirst() {
        Remove();
        TRegKey key;
        EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (ProgramKey + L"\\DllOverrides").c_str(), 0,
                                    nullptr, 0, KEY_SET_VALUE, nullptr, key.addressof(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring order = L"native,builtin";
        for (const std::wstring& library : NativeFirstLibraries)
            EXPECT_EQ(::RegSetValueExW(key.get(), library.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(order.c_str()),
                                       static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t))),
                      ERROR_SUCCESS);
    }
    TNativeLibrariesFirst(const TNativeLibrariesFirst&) = delete;
    TNativeLibrariesFirst& operator=(const TNativeLibrariesFirst&) = delete;
    ~TNativeLibrariesFirst() { Remove(); }

private:
    static void Remove() { ::RegDeleteTreeW(HKEY_CURRENT_USER, ProgramKey.c_str()); }
    static inline const std::wstring ProgramKey = L"Software\\Wine\\AppDefaults\\derodo.exe";
};

// The tool's log once its window shows (the start-up report complete), and
// after the download button's press: the download client's library loads at
// its first use. Then closed as a user would.
struct TToolLog {
    std::vector<std::wstring> StartUp;
    std::vector<std::wstring> Download;
};

TToolLog RunTool(const std::wstring& AProgram) {
    TAutomatedTool tool(AProgram);
    TToolLog log;
    if (!tool.WaitForMainWindow())
        return log;
    log.StartUp = tool.LogLines();
    if (const auto box = tool.Press(L"Download alternative files #1"))
        tool.Answer(*box, IDOK);
    const std::vector<std::wstring> all = tool.LogLines();
    log.Download.assign(all.begin() + static_cast<long>(std::min(all.size(), log.StartUp.size())),
                        all.end());
    EXPECT_EQ(tool.Close(), 0u);
    return log;
}

// The report without the state test, which follows the session's services
// and driver and may change between two starts.
std::vector<std::wstring> Report(std::vector<std::wstring> ALines) {
    ALines.erase(std::find(ALines.begin(), ALines.end(), L"[ State Test ]"), ALines.end());
    return ALines;
}

// The markers planted libraries leave when they are loaded.
std::vector<std::wstring> Markers(const std::wstring& AFolder) {
    std::vector<std::wstring> markers;
    for (const fs::directory_entry& entry : fs::directory_iterator(AFolder))
        if (entry.path().extension() == L".loaded")
            markers.push_back(entry.path().filename().wstring());
    return markers;
}

TEST(PlantedLibraries, NoneIsLoadedAndTheToolWorksAsUsual) {
    TDemoCopy demo(L"planting");
    const TNativeLibrariesFirst nativeFirst;
    const TToolLog usual = RunTool(demo.File(L"derodo.exe"));
    ASSERT_NE(std::find(usual.StartUp.begin(), usual.StartUp.end(), L"[ State Test ]"),
              usual.StartUp.end());

    // The press backed the files up: without the backups the next press is the same.
    fs::remove_all(demo.File(L"LPBackup"));
    for (const std::wstring& library : PlantedLibraries)
        fs::copy_file(TestProgramFolder() + L"plantedlibraries\\" + library + L".dll",
                      demo.File(library + L".dll"));
    const TToolLog planted = RunTool(demo.File(L"derodo.exe"));
    EXPECT_EQ(Markers(demo.Folder()), std::vector<std::wstring>{});
    ASSERT_NE(std::find(planted.StartUp.begin(), planted.StartUp.end(), L"[ State Test ]"),
              planted.StartUp.end());
    EXPECT_EQ(Report(planted.StartUp), Report(usual.StartUp));
    EXPECT_EQ(planted.Download, usual.Download);
}

} // namespace
