// Program entry: the modules start in their order, the one window runs its
// message loop, the modules shut down in reverse order.
#include <windows.h>

#include "AlternativeFiles.h"
#include "Application.h"
#include "ConsoleServices.h"
#include "FormDERodos.h"
#include "Modules.h"

int WINAPI wWinMain(HINSTANCE AInstance, HINSTANCE, PWSTR, int) {
    TModuleSequence modules(ProgramModules());
    if (!RunGuarded(nullptr, [&] { modules.StartUp(); }))
        return 1;

    int exitCode = 0;
    {
        TSystemConsoleServices services;
        TFormDERodos form(services);
        // The download server is chosen when the program is built.
        form.SetDownloadBaseAddress(AlternativeFilesBaseAddress(DERODO_DOWNLOAD_HOST));
        FormDERodos = &form;
        form.Create(AInstance);
        form.Show();
        exitCode = RunMessageLoop(form.Handle());
        FormDERodos = nullptr;
    }
    modules.ShutDown();
    return exitCode;
}
