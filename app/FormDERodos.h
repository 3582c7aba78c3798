// The main window: a read-only log on the left, a panel of ten buttons on the
// right. Its show event writes the start-up report before the window becomes
// visible; each button runs its handler to completion on the window's thread.
#pragma once

#include <windows.h>

#include <array>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/AlternativeFiles.h"
#include "app/ConsoleLog.h"
#include "app/ConsoleServices.h"
#include "app/FormLayout.h"
#include "app/TaskbarProgress.h"
#include "download/MemoryStream.h"
#include "platform/Handles.h"

inline constexpr const wchar_t* FormCaption = L"Vexlo Live Protection Tests (v2)";
inline constexpr const wchar_t* FormClassName = L"TFormDERodos";

struct TAction {
    TActionInfo Info;
    // Pressing a button whose handler is unassigned does nothing.
    std::function<void()> OnExecute;
};

class TFormDERodos : public TConsoleLog {
public:
    explicit TFormDERodos(TConsoleServices& AServices);
    TFormDERodos(const TFormDERodos&) = delete;
    TFormDERodos& operator=(const TFormDERodos&) = delete;
    ~TFormDERodos() override;

    // Creates the window, hidden.
    void Create(HINSTANCE AInstance);
    // Runs the show event, then makes the window visible. An error that ends
    // the show event is shown in the error box; the window is shown anyway.
    // When the show event has asked the program to end, the window stays
    // hidden and the caller ends the program with the code asked for.
    void Show();

    // Asks the program to end with AExitCode, from the show event: the
    // remaining start-up steps are skipped, the window never becomes visible
    // and the message loop does not run.
    void Terminate(int AExitCode) { FTerminateCode = AExitCode; }
    bool Terminating() const { return FTerminateCode.has_value(); }
    int TerminateCode() const { return FTerminateCode.value_or(0); }

    HWND Handle() const { return FHandle; }

    // The first start-up step: when the tool does not run from the product's
    // installation folder, offers to copy itself there and to start the
    // copy; once the copy has started, the program ends with RelocatedExitCode.
    void CheckProgramFolder();

    // The start-up report: the Windows and Versions blocks and the signature
    // of each Live Protection file. Written at start-up and again after the
    // alternative files have been downloaded.
    void ReportInstallation();
    TAction& Action(TActionId AId) { return alSettingsOnAccess[static_cast<size_t>(AId)]; }

    // The "State Test" section: file-scan service, driver and hook library, and a verdict.
    void RunStateTest();

    // The two whole activation tests among the Live Protection buttons; like
    // the seven single steps, each ends with the state test. The pressed
    // action is passed and not looked at.
    void aTestDirectExecute(const TAction& ASender);
    void aTestServiceExecute(const TAction& ASender);

    // The alternative files. The download server's folder of them is given
    // by the program's entry, which has it fixed when it is built.
    const std::wstring& DownloadBaseAddress() const { return FDownloadBaseAddress; }
    void SetDownloadBaseAddress(std::wstring AValue) { FDownloadBaseAddress = std::move(AValue); }
    // The button: DownloadAlternativeFiles with the download base address.
    void aDownload27FilesExecute(const TAction& ASender);
    // Replaces the alternative Live Protection files, one by one, with the
    // builds below ABaseAddress, then writes the installation report again;
    // a file that fails has its line, and the next one is handled. A close
    // during the download ends it after the file at hand, without the
    // report. While a press runs on the program folder, in this window or
    // another, a second one says so in one line and does nothing.
    void DownloadAlternativeFiles(const std::wstring& ABaseAddress);
    // The writer the downloaded builds go to the disk through; tests put in
    // one that fails or holds the file.
    void SetStreamWriter(TStreamWriter AValue) { FStreamWriter = std::move(AValue); }

protected:
    // The show event: the start-up steps, in order.
    virtual void FormShow();

    void AppendLine(const std::wstring& ALine) override;
    // Whole lines at the end of the window's log, in one piece; every line
    // written reaches the log here.
    void AppendLines(const std::vector<std::wstring>& ALines) override;

    TConsoleServices& FServices;

private:
    static LRESULT CALLBACK WindowProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam);
    LRESULT HandleMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam);
    void CreateComponents();
    void Relayout();
    void Execute(TActionId AId);
    // While an action runs the panel's buttons are disabled and the wait
    // cursor shows; clicks and keys that reached the panel meanwhile are
    // dropped before the buttons come back, so none of them replays.
    void BeginBusy();
    void EndBusy();
    void DiscardPanelInput();
    // A running download in the caption and on the taskbar button; the
    // window's messages are dispatched meanwhile, so that it keeps painting
    // (the buttons stay disabled and the form busy). The caption goes back
    // when the action ends.
    void ShowDownloadProgress(const std::wstring& AURL, int64_t AReceived, int64_t ATotal);
    // Dispatches the messages waiting for this thread; false once the
    // message loop's end was asked for (posted again for the loop).
    bool LetMessagesThrough();
    // A pause of an action spent answering the window's messages.
    void PauseLettingMessagesThrough(uint32_t AMilliseconds);
    void EndDownloadProgress();
    void Bind(TActionId AId, void (TFormDERodos::*AHandler)(const TAction&));
    void BindLiveProtectionActions();
    void BindAlternativeFilesAction();

    HWND FHandle = nullptr;
    HWND memoDebug = nullptr;
    HWND panelActions = nullptr;
    std::array<HWND, PanelItemCount> FPanelItems{};
    int FDpi = DesignDpi;
    TFontHandle FFont;
    TFontHandle FMemoFont;
    std::array<TAction, ActionCount> alSettingsOnAccess;
    std::wstring FDownloadBaseAddress;
    TStreamWriter FStreamWriter = WriteStreamToFile;
    std::optional<int> FTerminateCode;
    bool FListensToDownloads = false;
    bool FBusy = false;
    // A close came while an action ran: the window closes once it is done.
    bool FCloseAfterAction = false;
    HCURSOR FCursorBeforeBusy = nullptr;
    HWND FFocusBeforeBusy = nullptr;
    bool FShowingProgress = false;
    TTaskbarProgress FTaskbarProgress;
};

// The one main window of the running program.
extern TFormDERodos* FormDERodos;

// Control identifiers: the log, the panel, and the panel's items by position.
inline constexpr int MemoDebugId = 100;
inline constexpr int PanelActionsId = 101;
inline constexpr int FirstPanelItemId = 1000;
