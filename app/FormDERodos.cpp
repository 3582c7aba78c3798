#include "app/FormDERodos.h"

#include <commctrl.h>

#include <utility>

#include "app/Application.h"
#include "app/DownloadProgressText.h"
#include "app/InstallationReport.h"
#include "app/LiveProtectionActions.h"
#include "app/LiveProtectionFiles.h"
#include "app/ProgramRelocation.h"
#include "app/ReportGathering.h"
#include "app/StateTest.h"
#include "platform/Deadline.h"
#include "platform/FolderLock.h"
#include "platform/ProgramPath.h"
#include "platform/WholeOrNothing.h"

TFormDERodos* FormDERodos = nullptr;

namespace {

constexpr const wchar_t* PanelClassName = L"TPanel";

// The whole-file steps spend their held-file pauses in APause while it lives,
// and as before afterwards.
class TPausesLettingMessagesThrough {
public:
    explicit TPausesLettingMessagesThrough(std::function<void(uint32_t)> APause)
        : FBefore(std::exchange(HeldFileWait.Pause, std::move(APause))) {}
    TPausesLettingMessagesThrough(const TPausesLettingMessagesThrough&) = delete;
    TPausesLettingMessagesThrough& operator=(const TPausesLettingMessagesThrough&) = delete;
    ~TPausesLettingMessagesThrough() { HeldFileWait.Pause = std::move(FBefore); }

private:
    std::function<void(uint32_t)> FBefore;
};

// The panel draws its lowered bevel and hands its buttons' commands to the form.
LRESULT CALLBACK PanelProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    switch (AMsg) {
    case WM_COMMAND:
        return ::SendMessageW(::GetParent(AWnd), AMsg, AWParam, ALParam);
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(AWnd, &paint);
        RECT client;
        ::GetClientRect(AWnd, &client);
        ::DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
        ::EndPaint(AWnd, &paint);
        return 0;
    }
    default:
        return ::DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
    }
}

void RegisterClasses(HINSTANCE AInstance, WNDPROC AFormProc) {
    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = AFormProc;
    form.hInstance = AInstance;
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.hIcon = ::LoadIconW(AInstance, MAKEINTRESOURCEW(1));
    form.lpszClassName = FormClassName;
    ::RegisterClassExW(&form);

    WNDCLASSEXW panel{};
    panel.cbSize = sizeof(panel);
    panel.style = CS_HREDRAW | CS_VREDRAW;
    panel.lpfnWndProc = PanelProc;
    panel.hInstance = AInstance;
    panel.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    panel.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    panel.lpszClassName = PanelClassName;
    ::RegisterClassExW(&panel);
}

// A font of APoints points at ADpi, as Delphi's Font.Size gives it. The
// pitch and family hint decides the face the system falls back to when AFace
// is not installed.
HFONT CreatePointFont(const wchar_t* AFace, int APoints, int ADpi, BYTE APitchAndFamily = 0) {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(APoints, ADpi, 72);
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = APitchAndFamily;
    ::lstrcpynW(font.lfFaceName, AFace, LF_FACESIZE);
    return ::CreateFontIndirectW(&font);
}

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : DesignDpi;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : DesignDpi;
}

void MoveTo(HWND AWnd, const TRect& ARect) {
    ::MoveWindow(AWnd, ARect.Left, ARect.Top, ARect.Width, ARect.Height, TRUE);
}

} // namespace

TFormDERodos::TFormDERodos(TConsoleServices& AServices) : FServices(AServices) {
    for (size_t i = 0; i < alSettingsOnAccess.size(); ++i)
        alSettingsOnAccess[i].Info = ActionInfos[i];
    BindLiveProtectionActions();
    BindAlternativeFilesAction();
}

void TFormDERodos::BindLiveProtectionActions() {
    for (const TActionId id : SingleStepActions())
        Action(id).OnExecute = [this, id] { RunSingleStep(FServices, *this, id); };
    Bind(TActionId::aTestDirect, &TFormDERodos::aTestDirectExecute);
    Bind(TActionId::aTestService, &TFormDERodos::aTestServiceExecute);
}

void TFormDERodos::aTestDirectExecute(const TAction&) {
    RunDirectTest(FServices, *this);
}

void TFormDERodos::aTestServiceExecute(const TAction&) {
    RunServiceTest(FServices, *this);
}

void TFormDERodos::RunStateTest() {
    ::RunStateTest(FServices, *this);
}

void TFormDERodos::ReportInstallation() {
    ::ReportInstallation(FServices, *this);
}

void TFormDERodos::CheckProgramFolder() {
    if (CheckThisProgramFolder(FHandle) == rlRelocated)
        Terminate(RelocatedExitCode);
}

void TFormDERodos::Bind(TActionId AId, void (TFormDERodos::*AHandler)(const TAction&)) {
    TAction& action = Action(AId);
    action.OnExecute = [this, &action, AHandler] { (this->*AHandler)(action); };
}

TFormDERodos::~TFormDERodos() {
    if (FListensToDownloads)
        FServices.SetOnDownloadProgress(nullptr);
    if (FHandle)
        ::DestroyWindow(FHandle);
}

void TFormDERodos::Create(HINSTANCE AInstance) {
    // Only the form with a window shows the progress of a download.
    FServices.SetOnDownloadProgress(
        [this](const std::wstring& AURL, int64_t AReceived, int64_t ATotal) {
            ShowDownloadProgress(AURL, AReceived, ATotal);
        });
    FListensToDownloads = true;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    RegisterClasses(AInstance, &TFormDERodos::WindowProc);

    FDpi = ScreenDpi();
    FFont.reset(CreatePointFont(L"Tahoma", 8, FDpi));
    // The report's columns are aligned by character counts: whatever face
    // stands in for a missing Courier New must be monospaced too.
    FMemoFont.reset(CreatePointFont(L"Courier New", 8, FDpi, FIXED_PITCH | FF_MODERN));

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    const TRect client = DesignClientRect(FDpi);
    RECT frame{0, 0, client.Width, client.Height};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);

    ::CreateWindowExW(exStyle, FormClassName, FormCaption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                      AInstance, this);
}

void TFormDERodos::CreateComponents() {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(FHandle, GWLP_HINSTANCE));
    const auto font = reinterpret_cast<WPARAM>(FFont.get());

    // Z-order is tab order: the panel first, then the log.
    panelActions = ::CreateWindowExW(WS_EX_CONTROLPARENT, PanelClassName, L"",
                                     WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0, FHandle,
                                     reinterpret_cast<HMENU>(PanelActionsId), instance, nullptr);
    memoDebug = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL |
                                      ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL,
                                  0, 0, 0, 0, FHandle, reinterpret_cast<HMENU>(MemoDebugId),
                                  instance, nullptr);
    ::SendMessageW(memoDebug, WM_SETFONT, reinterpret_cast<WPARAM>(FMemoFont.get()), FALSE);
    ::SendMessageW(memoDebug, EM_SETLIMITTEXT, 0, 0);

    // Inside the panel the buttons are created in their tab order; the
    // separators carry no tab stop, so where they stand does not matter.
    for (int tab = 0; tab < ActionCount; ++tab) {
        for (int i = 0; i < PanelItemCount; ++i) {
            const TPanelItem& item = PanelItems[i];
            if (item.IsSeparator || item.TabOrder != tab)
                continue;
            FPanelItems[i] = ::CreateWindowExW(
                0, L"BUTTON", Action(item.Action).Info.Caption,
                WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, panelActions,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstPanelItemId + i)), instance,
                nullptr);
            ::SendMessageW(FPanelItems[i], WM_SETFONT, font, FALSE);
        }
    }
    for (int i = 0; i < PanelItemCount; ++i) {
        if (!PanelItems[i].IsSeparator)
            continue;
        FPanelItems[i] = ::CreateWindowExW(
            0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, 0, 0, 0, 0, panelActions,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstPanelItemId + i)), instance, nullptr);
    }
    Relayout();
}

void TFormDERodos::Relayout() {
    RECT client;
    ::GetClientRect(FHandle, &client);
    const TFormLayout layout = ComputeFormLayout(client.right, client.bottom, FDpi);
    MoveTo(panelActions, layout.Panel);
    MoveTo(memoDebug, layout.Memo);
    for (int i = 0; i < PanelItemCount; ++i)
        MoveTo(FPanelItems[i], layout.Items[i]);
}

void TFormDERodos::Show() {
    RunGuarded(FHandle, [this] { FormShow(); });
    if (Terminating())
        return;
    // The first control in tab order has the focus, as in a dialog.
    if (HWND first = ::GetNextDlgTabItem(FHandle, nullptr, FALSE))
        ::SetFocus(first);
    ::ShowWindow(FHandle, SW_SHOW);
    ::UpdateWindow(FHandle);
}

void TFormDERodos::FormShow() {
    CheckProgramFolder();
    if (Terminating())
        return;
    // Asked only now: a start that relocates ends without waiting for the
    // answers, and nothing asked before the relocation check can be stale.
    const TGathered<TReportFacts> gathered = GatherStartUpFacts(FServices, TFactsFor::Log);
    LogReport(*this, ReportLines(UnknownAnswersAsNo(gathered.Facts)), gathered.Error);
}

void TFormDERodos::AppendLine(const std::wstring& ALine) {
    AppendLines({ALine});
}

void TFormDERodos::AppendLines(const std::vector<std::wstring>& ALines) {
    // Every line ends with a line break, as the lines of a memo do; the first
    // line of a log that starts with a section is therefore empty. Lines come
    // in one piece, so that the control lays its text out once, not once a line.
    std::wstring text;
    for (const std::wstring& line : ALines)
        text += line + L"\r\n";
    const auto end = static_cast<WPARAM>(::GetWindowTextLengthW(memoDebug));
    ::SendMessageW(memoDebug, EM_SETSEL, end, static_cast<LPARAM>(end));
    ::SendMessageW(memoDebug, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TFormDERodos::Execute(TActionId AId) {
    const TAction& action = Action(AId);
    // A press delivered while an action runs (a message box of the action
    // dispatches messages) never starts a second one.
    if (!action.OnExecute || FBusy)
        return;
    BeginBusy();
    {
        // A file another program holds makes a step wait for seconds; the
        // window answers meanwhile, as it does during a download (Windows
        // calls a window that does not answer for 5 s hung).
        const TPausesLettingMessagesThrough pauses(
            [this](uint32_t AMilliseconds) { PauseLettingMessagesThrough(AMilliseconds); });
        RunGuarded(FHandle, action.OnExecute);
    }
    EndBusy();
    // A close asked for meanwhile waited for the action; now it is done.
    if (FCloseAfterAction && FHandle)
        ::SendMessageW(FHandle, WM_CLOSE, 0, 0);
}

void TFormDERodos::BeginBusy() {
    FBusy = true;
    FFocusBeforeBusy = ::GetFocus();
    for (int i = 0; i < PanelItemCount; ++i) {
        if (!PanelItems[i].IsSeparator && FPanelItems[i])
            ::EnableWindow(FPanelItems[i], FALSE);
    }
    FCursorBeforeBusy = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
}

void TFormDERodos::EndBusy() {
    // The caption stops showing a download before any button can be pressed again.
    EndDownloadProgress();
    DiscardPanelInput();
    for (int i = 0; i < PanelItemCount; ++i) {
        if (!PanelItems[i].IsSeparator && FPanelItems[i])
            ::EnableWindow(FPanelItems[i], TRUE);
    }
    // Disabling the focused button took the focus away; it goes back.
    if (FFocusBeforeBusy && ::IsWindow(FFocusBeforeBusy) && ::GetFocus() != FFocusBeforeBusy)
        ::SetFocus(FFocusBeforeBusy);
    FFocusBeforeBusy = nullptr;
    FBusy = false;
    ::SetCursor(FCursorBeforeBusy ? FCursorBeforeBusy : ::LoadCursorW(nullptr, IDC_ARROW));
    FCursorBeforeBusy = nullptr;
}

void TFormDERodos::DiscardPanelInput() {
    // Messages sent meanwhile are delivered by these calls too; they find the
    // form still busy. Clicks posted by another program (BM_CLICK to a
    // button, a button's WM_COMMAND to the panel or the form) go the same way
    // as the user's own.
    MSG message;
    auto discard = [&message](HWND AWnd, UINT AFirst, UINT ALast) {
        if (!AWnd)
            return;
        while (::PeekMessageW(&message, AWnd, AFirst, ALast, PM_REMOVE)) {
        }
    };
    for (HWND window : {panelActions, FHandle}) {
        // Only the panel's clicks go; any other command is posted again.
        std::vector<MSG> others;
        while (window && ::PeekMessageW(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
            const int id = LOWORD(message.wParam);
            if (id < FirstPanelItemId || id >= FirstPanelItemId + PanelItemCount)
                others.push_back(message);
        }
        for (const MSG& other : others)
            ::PostMessageW(other.hwnd, other.message, other.wParam, other.lParam);
    }
    discard(panelActions, WM_MOUSEFIRST, WM_MOUSELAST);
    discard(panelActions, WM_KEYFIRST, WM_KEYLAST);
    for (HWND item : FPanelItems) {
        discard(item, WM_MOUSEFIRST, WM_MOUSELAST);
        discard(item, WM_KEYFIRST, WM_KEYLAST);
        discard(item, BM_CLICK, BM_CLICK);
    }
}

void TFormDERodos::ShowDownloadProgress(const std::wstring& AURL, int64_t AReceived,
                                        int64_t ATotal) {
    if (!FHandle)
        return;
    const std::wstring caption = DownloadProgressCaption(AURL, AReceived, ATotal, FormCaption);
    wchar_t current[512] = {};
    ::GetWindowTextW(FHandle, current, 512);
    if (caption != current)
        ::SetWindowTextW(FHandle, caption.c_str());
    FTaskbarProgress.Show(FHandle, ATotal > 0 ? DownloadProgressPermille(AReceived, ATotal) : -1);
    FShowingProgress = true;
    LetMessagesThrough();
}

bool TFormDERodos::LetMessagesThrough() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // For the message loop, once the action is over.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        if (FHandle && ::IsDialogMessageW(FHandle, &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return true;
}

void TFormDERodos::PauseLettingMessagesThrough(uint32_t AMilliseconds) {
    const TDeadline deadline(AMilliseconds);
    for (DWORD remaining = AMilliseconds; remaining > 0; remaining = deadline.Remaining()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, remaining, QS_ALLINPUT);
        if (!LetMessagesThrough()) {
            // A quit waiting in the queue would wake every wait at once.
            ::Sleep(deadline.Remaining());
            return;
        }
    }
}

void TFormDERodos::EndDownloadProgress() {
    if (!FShowingProgress)
        return;
    FShowingProgress = false;
    ::SetWindowTextW(FHandle, FormCaption);
    FTaskbarProgress.Clear(FHandle);
}

LRESULT CALLBACK TFormDERodos::WindowProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    if (AMsg == WM_NCCREATE) {
        auto* form =
            static_cast<TFormDERodos*>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams);
        form->FHandle = AWnd;
        ::SetWindowLongPtrW(AWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TFormDERodos*>(::GetWindowLongPtrW(AWnd, GWLP_USERDATA));
    if (!form)
        return ::DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
    return form->HandleMessage(AMsg, AWParam, ALParam);
}

LRESULT TFormDERodos::HandleMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    switch (AMsg) {
    case WM_CREATE:
        ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.get()), FALSE);
        CreateComponents();
        return 0;
    case WM_SIZE:
        if (panelActions)
            Relayout();
        return 0;
    case WM_COMMAND: {
        const int id = LOWORD(AWParam);
        if (HIWORD(AWParam) == BN_CLICKED && id >= FirstPanelItemId &&
            id < FirstPanelItemId + PanelItemCount) {
            const TPanelItem& item = PanelItems[id - FirstPanelItemId];
            if (!item.IsSeparator)
                Execute(item.Action);
            return 0;
        }
        break;
    }
    case WM_CLOSE:
        // Not while an action runs: it still writes to the log. The close
        // waits for it, and a running download is ended for it: the file
        // being fetched and those after it stay as they are.
        if (FBusy) {
            FCloseAfterAction = true;
            FServices.CancelDownload();
            return 0;
        }
        break;
    case WM_SETCURSOR:
        if (FBusy) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case WM_CTLCOLORSTATIC:
        // A read-only edit asks for the static colours; the log keeps the
        // window background so it reads like a text box.
        if (reinterpret_cast<HWND>(ALParam) == memoDebug) {
            HDC dc = reinterpret_cast<HDC>(AWParam);
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
        }
        break;
    case WM_DESTROY:
        ::SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        FHandle = nullptr;
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(FHandle, AMsg, AWParam, ALParam);
}

void TFormDERodos::BindAlternativeFilesAction() {
    Bind(TActionId::aDownload27Files, &TFormDERodos::aDownload27FilesExecute);
}

void TFormDERodos::aDownload27FilesExecute(const TAction&) {
    DownloadAlternativeFiles(FDownloadBaseAddress);
}

void TFormDERodos::DownloadAlternativeFiles(const std::wstring& ABaseAddress) {
    // Two presses on one folder would take each other's partial files and
    // backups for leftovers of a kill.
    const TFolderLock lock(ProgramFolder(), AlternativeFilesLockPurpose);
    if (!lock.Taken()) {
        LogFailure(L"Another window is replacing the files of this folder; nothing was done.");
        return;
    }
    LogSection(L"File Download");
    LogInfo(ABaseAddress);
    TReplacedBuilds replaced;
    for (size_t index = FirstAlternativeFile; index < LiveProtectionFiles.size(); ++index) {
        ReplaceFile(FServices, *this, ABaseAddress, index, FStreamWriter, &replaced);
        // The window is closing: no further file is touched.
        if (FCloseAfterAction)
            return;
    }
    // A scanner may take a new build away a while after it appeared.
    CheckReplacedBuilds(*this, replaced);
    // The state test is not run: the report shows what the download changed.
    ReportInstallation();
}
