// The Wine session's own user of its desktop, started with the session and
// ended with it. Wine's desktop process (explorer.exe /desktop) ends about a
// second after the last program using the desktop has gone, and the next
// program that asks for a message queue or a window starts it again, handing
// it that program's standard output and error. CTest takes a test as ended only
// once nothing holds its output any more: a test program that started the
// desktop, and then ended while other programs (a window test beside it) kept
// the desktop in use, would be waited for until its time-out. With this
// program the desktop runs for the whole session, started by the session.
#include <windows.h>

#include "platform/Handles.h"

int WINAPI wWinMain(HINSTANCE AInstance, HINSTANCE, PWSTR, int) {
    // One keeper a session, however often the session is started.
    const TKernelHandle keeper(::CreateMutexW(nullptr, FALSE, L"Local\\DerodoDesktopKeeper"));
    if (!keeper || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    // A hidden window: the desktop counts this program as its user for as
    // long as it runs.
    if (!::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, AInstance, nullptr))
        return 1;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&message);
    return 0;
}
