// The download button on a slow line: the window answers and shows in its
// caption which file arrives and how far while the buttons stay disabled;
// clicks meanwhile start nothing; afterwards the caption is the title again
// and the log is what a fast line gives.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/LiveProtectionFiles.h"
#include "fixtures/fileidentity/TestCA.h"
#include "platform/WinText.h"
#include "tests/app/DownloadServer.h"
#include "tests/automation/Automation.h"
#include "tests/automation/DemoCopy.h"
#include "tests/automation/LoopbackServer.h"
#include "tests/support/TestBuilds.h"
#include "tests/support/TestFiles.h"

namespace {

const std::wstring Title = L"Vexlo Live Protection Tests (v2)";
const std::wstring Button = L"Download alternative files #1";

std::wstring CaptionOf(HWND AWindow) {
    wchar_t text[512] = {};
    ::GetWindowTextW(AWindow, text, 512);
    return text;
}

// The percentage a progress caption shows, or -1.
int PercentageOf(const std::wstring& ACaption) {
    const size_t percent = ACaption.find(L"% (");
    const size_t colon = ACaption.find(L": ");
    if (percent == std::wstring::npos || colon == std::wstring::npos || colon > percent)
        return -1;
    return std::stoi(ACaption.substr(colon + 2, percent - colon - 2));
}

TEST(DownloadProgressWindow, TheCaptionFollowsASlowDownloadAndClicksMeanwhileStartNothing) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    TDemoCopy demo(L"downloadprogress-window");
    const std::wstring tool = demo.AddProgram(L"derodo_loopbackdownload.exe");
    const std::wstring served = MakeTestFolder(L"downloadprogress-served");
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        WriteWholeFile(
            served + LiveProtectionFiles[i],
            ImageBuild(ReadWholeFile(demo.File(LiveProtectionFiles[i])), "slow build\n"));
    TLoopbackServer server(DownloadServer(served, 0.8));

    TAutomatedTool window(tool);
    HWND form = window.WaitForMainWindow();
    ASSERT_NE(form, nullptr);
    HWND button = window.Control(Button);
    HWND memo = window.Memo();
    ASSERT_NE(button, nullptr);
    const size_t startUp = window.LogLines().size();

    std::atomic<bool> pressing{true};
    std::set<std::wstring> captions;
    bool enabledDuringProgress = false, logAnswered = false, clicked = false;
    std::jthread watcher([&] {
        while (pressing) {
            const std::wstring caption = CaptionOf(form);
            if (caption != Title && !caption.empty()) {
                captions.insert(caption);
                // The caption is read again after the button: only a button
                // enabled while the progress still shows counts.
                enabledDuringProgress |=
                    ::IsWindowEnabled(button) != FALSE && CaptionOf(form) != Title;
                DWORD_PTR length = 0;
                logAnswered |= ::SendMessageTimeoutW(memo, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                                     2000, &length) &&
                               length > 0;
                if (!clicked) {
                    clicked = true;
                    PostClick(button);
                    PostClick(button);
                }
            }
            ::Sleep(15);
        }
    });
    const auto box = window.Press(Button);
    pressing = false;
    watcher.join();
    EXPECT_FALSE(box.has_value());

    EXPECT_EQ(CaptionOf(form), Title);
    EXPECT_TRUE(::IsWindowEnabled(button));
    EXPECT_FALSE(enabledDuringProgress);
    EXPECT_TRUE(logAnswered) << "the window answered while the files arrived";
    EXPECT_TRUE(clicked);
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring prefix = L"Downloading " + std::wstring(LiveProtectionFiles[i]) + L": ";
        EXPECT_TRUE(std::any_of(captions.begin(), captions.end(),
                                [&](const std::wstring& ACaption) {
                                    return ACaption.rfind(prefix, 0) == 0 &&
                                           ACaption.size() > Title.size() &&
                                           ACaption.substr(ACaption.size() - Title.size()) == Title;
                                }))
            << WideToUtf8(prefix);
    }
    EXPECT_TRUE(std::any_of(captions.begin(), captions.end(), [](const std::wstring& ACaption) {
        const int percentage = PercentageOf(ACaption);
        return percentage > 0 && percentage < 100;
    })) << "a file seen part of the way";

    // The log as a fast line leaves it: one download, its backups, the report.
    ::Sleep(500);
    const std::vector<std::wstring> all = window.LogLines();
    const std::vector<std::wstring> lines(all.begin() + static_cast<long>(startUp), all.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"[ File Download ]"), 1);
    ASSERT_GE(lines.size(), 3 + LiveProtectionFiles.size());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i)
        EXPECT_EQ(lines[2 + i],
                  L"[+] Backup for " + std::wstring(LiveProtectionFiles[i]) + L" created.");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"[ Windows ]"), 1);
    EXPECT_EQ(window.Close(), 0u);
}

// A server that sends one byte of each file a second: closing the window
// ends the download and the tool within seconds, without a question; the
// file being fetched and every file after it stay as they were.
TEST(DownloadProgressWindow, ClosingDuringATrickleEndsTheToolAndTouchesNoFile) {
    ASSERT_TRUE(TrustTestCA(TestProgramFolder() + L"testca\\ca.cer"));
    TDemoCopy demo(L"downloadclose-window");
    const std::wstring tool = demo.AddProgram(L"derodo_loopbackdownload.exe");
    const std::wstring served = MakeTestFolder(L"downloadclose-served");
    std::vector<std::string> originals(LiveProtectionFiles.size());
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        originals[i] = ReadWholeFile(demo.File(LiveProtectionFiles[i]));
        WriteWholeFile(served + LiveProtectionFiles[i],
                       ImageBuild(originals[i], "trickled build\n"));
    }
    TLoopbackServerOptions options = DownloadServer(served);
    options.TrickleSeconds = 1;
    TLoopbackServer server(options);

    TAutomatedTool window(tool);
    HWND form = window.WaitForMainWindow();
    ASSERT_NE(form, nullptr);
    window.Click(Button);
    const std::wstring first = L"Downloading " + std::wstring(LiveProtectionFiles[1]) + L": ";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (CaptionOf(form).rfind(first, 0) != 0 && std::chrono::steady_clock::now() < deadline)
        ::Sleep(50);
    ASSERT_EQ(CaptionOf(form).rfind(first, 0), 0u) << WideToUtf8(CaptionOf(form));
    ::Sleep(2500); // a few bytes in

    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(window.Close(), 0u);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - closing;
    EXPECT_LT(took.count(), 10.0);
    RecordProperty("close_milliseconds", static_cast<int>(took.count() * 1000));
    // The file at hand and all after it as they were, and nothing begun beside them.
    for (size_t i = FirstAlternativeFile; i < LiveProtectionFiles.size(); ++i) {
        const std::wstring name = LiveProtectionFiles[i];
        EXPECT_TRUE(ReadWholeFile(demo.File(name)) == originals[i]) << WideToUtf8(name);
        EXPECT_EQ(::GetFileAttributesW(demo.File(name + L".partial").c_str()),
                  INVALID_FILE_ATTRIBUTES)
            << WideToUtf8(name);
        // Only the file at hand had its backup made.
        EXPECT_EQ(::GetFileAttributesW(demo.File(L"LPBackup\\" + name).c_str()) !=
                      INVALID_FILE_ATTRIBUTES,
                  i == FirstAlternativeFile)
            << WideToUtf8(name);
    }
}

} // namespace
