#include "app/TaskbarProgress.h"

#include <shobjidl.h>

#include "platform/Handles.h"

struct TTaskbarProgress::TState {
    // The window's thread joins a single-threaded apartment for the taskbar
    // list and leaves it again, unless it was in another kind already.
    bool ComInitialized = false;
    TComInterface<ITaskbarList3> Taskbar;

    TState() {
        const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ComInitialized = SUCCEEDED(joined);
        ITaskbarList3* taskbar = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar))))
            Taskbar.reset(taskbar);
        if (Taskbar && FAILED(Taskbar.get()->HrInit()))
            Taskbar.reset();
    }
    ~TState() {
        Taskbar.reset();
        if (ComInitialized)
            ::CoUninitialize();
    }
};

TTaskbarProgress::TTaskbarProgress() = default;
TTaskbarProgress::~TTaskbarProgress() = default;

void TTaskbarProgress::Show(HWND AWindow, int APermille) {
    if (!FState)
        FState = std::make_unique<TState>();
    if (!FState->Taskbar || !AWindow)
        return;
    if (APermille < 0) {
        FState->Taskbar.get()->SetProgressState(AWindow, TBPF_INDETERMINATE);
        return;
    }
    FState->Taskbar.get()->SetProgressState(AWindow, TBPF_NORMAL);
    FState->Taskbar.get()->SetProgressValue(AWindow, static_cast<ULONGLONG>(APermille), 1000);
}

void TTaskbarProgress::Clear(HWND AWindow) {
    if (FState && FState->Taskbar && AWindow)
        FState->Taskbar.get()->SetProgressState(AWindow, TBPF_NOPROGRESS);
}
