// Progress on the window's taskbar button, where the system has the taskbar
// list (ITaskbarList3); elsewhere every call does nothing.
#pragma once

#include <windows.h>

#include <memory>

class TTaskbarProgress {
public:
    TTaskbarProgress();
    TTaskbarProgress(const TTaskbarProgress&) = delete;
    TTaskbarProgress& operator=(const TTaskbarProgress&) = delete;
    ~TTaskbarProgress();

    // APermille of the whole; a negative share shows that work goes on
    // without a known end.
    void Show(HWND AWindow, int APermille);
    void Clear(HWND AWindow);

private:
    struct TState;
    // Made on the first Show: COM and the taskbar list cost nothing until a
    // download needs them.
    std::unique_ptr<TState> FState;
};
