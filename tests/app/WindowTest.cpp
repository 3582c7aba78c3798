// The real window under Xvfb, driven from this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/FakeConsoleServices.h"
#include "tests/automation/Automation.h"

namespace {

const std::vector<std::wstring> PanelCaptions = {
    L"Run Test (Service method)",
    L"Run test (direct method)",
    L"Download alternative files #1",
    L"Install Live Protection",
    L"Load Live Protection until reboot",
    L"Start Live Protection",
    L"Activate Live Protection",
    L"Deactivate Live Protection",
    L"Stop Live Protection",
    L"Uninstall Live Protection (might need reboot)",
};

std::wstring ClassOf(HWND AWnd) {
    wchar_t name[64] = {};
    ::GetClassNameW(AWnd, name, 64);
    return name;
}

RECT RectIn(HWND AWnd, HWND AParent) {
    RECT rect;
    ::GetWindowRect(AWnd, &rect);
    ::MapWindowPoints(nullptr, AParent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<HWND> ChildrenInZOrder(HWND AParent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(AParent, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// What Tab walks through: the tab stops in z-order, descending into the panel.
std::vector<std::wstring> TabOrder(HWND AForm) {
    std::vector<std::wstring> order;
    for (HWND child : ChildrenInZOrder(AForm)) {
        if (ClassOf(child) == L"TPanel") {
            order.push_back(L"panelActions");
            for (HWND item : ChildrenInZOrder(child))
                if (::GetWindowLongPtrW(item, GWL_STYLE) & WS_TABSTOP)
                    order.push_back(RemoteWindowText(item));
        } else if (::GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) {
            order.push_back(ClassOf(child) == L"Edit" ? L"memoDebug" : RemoteWindowText(child));
        }
    }
    return order;
}

class Window : public ::testing::Test {
protected:
    std::wstring Program(const wchar_t* AName) { return TestProgramFolder() + AName; }
};

TEST_F(Window, TheRealWindowItsButtonsLayoutAndExitCode) {
    TAutomatedTool tool(Program(L"derodo.exe"));
    HWND form = tool.WaitForMainWindow();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(RemoteWindowText(form), L"Vexlo Live Protection Tests (v2)");

    RECT client;
    ::GetClientRect(form, &client);
    EXPECT_EQ(client.right, 860);
    EXPECT_EQ(client.bottom, 423);

    HWND memo = tool.Memo();
    ASSERT_NE(memo, nullptr);
    const RECT memoRect = RectIn(memo, form);
    EXPECT_EQ(memoRect.left, 6);
    EXPECT_EQ(memoRect.top, 6);
    EXPECT_EQ(memoRect.right - memoRect.left, 590);
    EXPECT_EQ(memoRect.bottom - memoRect.top, 411);
    const LONG_PTR memoStyle = ::GetWindowLongPtrW(memo, GWL_STYLE);
    EXPECT_TRUE(memoStyle & ES_READONLY);
    EXPECT_TRUE(memoStyle & WS_HSCROLL);
    EXPECT_TRUE(memoStyle & WS_VSCROLL);

    // Typing into the log changes nothing.
    const std::wstring before = tool.LogText();
    ::SendMessageW(memo, WM_CHAR, L'x', 0);
    EXPECT_EQ(tool.LogText(), before);

    // The panel's children from top to bottom: buttons and two separators.
    HWND panel = ::GetDlgItem(form, 101);
    ASSERT_NE(panel, nullptr);
    const RECT panelRect = RectIn(panel, form);
    EXPECT_EQ(panelRect.left, 608);
    EXPECT_EQ(panelRect.right - panelRect.left, 246);
    std::vector<HWND> items = ChildrenInZOrder(panel);
    std::sort(items.begin(), items.end(),
              [&](HWND a, HWND b) { return RectIn(a, panel).top < RectIn(b, panel).top; });
    std::vector<std::wstring> captions;
    std::vector<size_t> separators;
    for (size_t i = 0; i < items.size(); ++i) {
        if (ClassOf(items[i]) == L"Button")
            captions.push_back(RemoteWindowText(items[i]));
        else
            separators.push_back(i);
    }
    EXPECT_EQ(captions, PanelCaptions);
    EXPECT_EQ(separators, (std::vector<size_t>{2, 4}));

    std::vector<std::wstring> expectedTabs = {L"panelActions"};
    expectedTabs.insert(expectedTabs.end(), PanelCaptions.begin() + 3, PanelCaptions.end());
    expectedTabs.insert(expectedTabs.begin() + 1, PanelCaptions.begin(), PanelCaptions.begin() + 2);
    expectedTabs.push_back(PanelCaptions[2]);
    expectedTabs.push_back(L"memoDebug");
    EXPECT_EQ(TabOrder(form), expectedTabs);

    EXPECT_EQ(tool.Close(), 0u);
}

// The report's columns line up only in a monospaced face, whichever face the
// system picked for the log; the prefix has no Courier New.
TEST_F(Window, TheLogsFontIsFixedPitch) {
    TFakeConsoleServices services;
    TFormDERodos form(services);
    form.Create(::GetModuleHandleW(nullptr));
    HWND memo = ::GetDlgItem(form.Handle(), MemoDebugId);
    ASSERT_NE(memo, nullptr);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(memo, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);

    HDC dc = ::GetDC(memo);
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ASSERT_TRUE(::GetTextMetricsW(dc, &metrics));
    SIZE narrow{}, wide{};
    ::GetTextExtentPoint32W(dc, L"iiiiiiiiii", 10, &narrow);
    ::GetTextExtentPoint32W(dc, L"WWWWWWWWWW", 10, &wide);
    ::SelectObject(dc, old);
    ::ReleaseDC(memo, dc);

    // The bit's name says the opposite of its meaning: set means variable pitch.
    EXPECT_EQ(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH, 0);
    EXPECT_EQ(narrow.cx, wide.cx);
}

TEST_F(Window, ErrorInAHandlerShowsTheBoxAndTheWindowStaysUsable) {
    TAutomatedTool tool(Program(L"consolehost.exe"));
    ASSERT_NE(tool.WaitForMainWindow(), nullptr);
    EXPECT_EQ(tool.LogLines(),
              (std::vector<std::wstring>{L"", L"[ Start-up ]", L"[i] shown",
                                         L"[i] not reached when the show event fails"}));

    for (int press = 0; press < 2; ++press) {
        auto box = tool.Press(L"Run Test (Service method)");
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->Caption, L"Vexlo Live Protection Test");
        EXPECT_EQ(box->Text, L"Handler failed on purpose");
        EXPECT_FALSE(tool.Answer(*box, IDOK).has_value());
    }
    EXPECT_FALSE(tool.Press(L"Run test (direct method)").has_value());

    EXPECT_TRUE(::IsWindowVisible(tool.MainWindow()));
    const std::vector<std::wstring> lines = tool.LogLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], L"[i] before the error");
    EXPECT_EQ(lines[5], L"[i] before the error");
    EXPECT_EQ(lines[6], L"[+] direct");
    EXPECT_EQ(tool.Close(), 0u);
}

// An impatient user clicks the running action's button twice more: the
// buttons are disabled while it runs, the clicks are dropped when it ends, so
// the action runs once; afterwards the button works again.
TEST_F(Window, ClicksDuringASlowActionDoNotReplay) {
    TAutomatedTool tool(Program(L"consolehost.exe"));
    ASSERT_NE(tool.WaitForMainWindow(), nullptr);
    const std::wstring caption = L"Uninstall Live Protection (might need reboot)";
    HWND button = tool.Control(caption);
    HWND other = tool.Control(L"Run test (direct method)");
    ASSERT_NE(button, nullptr);
    ASSERT_NE(other, nullptr);
    const size_t before = tool.LogLines().size();

    tool.Click(caption);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (::IsWindowEnabled(button) && std::chrono::steady_clock::now() < deadline)
        ::Sleep(10);
    ASSERT_FALSE(::IsWindowEnabled(button)) << "the action did not start";
    EXPECT_FALSE(::IsWindowEnabled(other));
    // The buttons were found before: asking for their captions now would wait
    // until the action is over.
    PostClick(button);
    PostClick(button);
    PostClick(other);
    // Clicks another program posts: BM_CLICK to a button, and a button's
    // command to the panel and to the form.
    ::PostMessageW(button, BM_CLICK, 0, 0);
    const WPARAM command = MAKEWPARAM(::GetDlgCtrlID(other), BN_CLICKED);
    ::PostMessageW(::GetParent(other), WM_COMMAND, command, reinterpret_cast<LPARAM>(other));
    ::PostMessageW(tool.MainWindow(), WM_COMMAND, command, reinterpret_cast<LPARAM>(other));

    while (!::IsWindowEnabled(button) && std::chrono::steady_clock::now() < deadline + 10s)
        ::Sleep(10);
    ASSERT_TRUE(::IsWindowEnabled(button));
    EXPECT_TRUE(::IsWindowEnabled(other));
    // A replay would start right after the action: give it the time to show.
    ::Sleep(1500);
    const std::vector<std::wstring> lines = tool.LogLines();
    EXPECT_EQ(
        std::vector<std::wstring>(lines.begin() + static_cast<ptrdiff_t>(before), lines.end()),
        (std::vector<std::wstring>{L"[i] slow action begins", L"[i] slow action ends"}));

    EXPECT_FALSE(tool.Press(L"Run test (direct method)").has_value());
    EXPECT_EQ(tool.LogLines().back(), L"[+] direct");
    EXPECT_EQ(tool.Close(), 0u);
}

TEST_F(Window, ErrorInTheShowEventEndsTheStartUpButTheWindowShows) {
    TAutomatedTool tool(Program(L"consolehost.exe"), L"showerror");
    auto box = tool.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->Caption, L"Vexlo Live Protection Test");
    EXPECT_EQ(box->Text, L"Show failed on purpose");
    EXPECT_EQ(tool.MainWindow(), nullptr);
    tool.Answer(*box, IDOK);

    ASSERT_NE(tool.WaitForMainWindow(), nullptr);
    EXPECT_EQ(tool.LogLines(), (std::vector<std::wstring>{L"", L"[ Start-up ]", L"[i] shown"}));
    EXPECT_EQ(tool.Close(), 0u);
}

} // namespace
