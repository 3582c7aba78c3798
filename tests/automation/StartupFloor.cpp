// startupfloor: the least a window program of the tool's kind does before its
// window shows: the tool's window class with a multi-line edit control in it,
// nothing else. Started and awaited as the tool is, it gives the floor its
// start-up is measured against.
#include <windows.h>

namespace {

LRESULT CALLBACK FloorProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    if (AMsg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE AInstance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = FloorProc;
    form.hInstance = AInstance;
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = L"TFormDERodos";
    ::RegisterClassExW(&form);
    HWND window =
        ::CreateWindowExW(0, L"TFormDERodos", L"Floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, 876, 462, nullptr, nullptr, AInstance, nullptr);
    ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 6, 6,
                      590, 411, window, reinterpret_cast<HMENU>(100), AInstance, nullptr);
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
