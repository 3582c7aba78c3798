#include "app/Application.h"

#include "platform/WinText.h"

std::wstring ExceptionText(const std::exception& AError) {
    return Utf8ToWide(AError.what());
}

void ShowErrorBox(HWND AOwner, const std::wstring& AText) {
    ::MessageBoxW(AOwner, AText.c_str(), ApplicationTitle, MB_OK | MB_ICONERROR);
}

bool RunGuarded(HWND AOwner, const std::function<void()>& AWork) {
    try {
        AWork();
        return true;
    } catch (const std::exception& error) {
        ShowErrorBox(AOwner, ExceptionText(error));
    } catch (...) {
        ShowErrorBox(AOwner, L"Unexpected error.");
    }
    return false;
}

int RunMessageLoop(HWND AMainWindow) {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (AMainWindow && ::IsDialogMessageW(AMainWindow, &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
