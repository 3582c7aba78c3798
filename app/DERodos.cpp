// Program entry: the modules start in their order, the one window runs its
// message loop, the modules shut down in reverse order. The same shut-down
// follows when the window's start-up ends the program before it shows.
#include <windows.h>

#include "AlternativeFiles.h"
#include "Application.h"
#include "ConsoleServices.h"
#include "FormDERodos.h"
#include "LibrarySearch.h"
#include "CommandLineParameters.h"
#include "Modules.h"
#include "ReportMode.h"

int WINAPI wWinMain(HINSTANCE AInstance, HINSTANCE, PWSTR, int) {
    // Before anything else: the libraries the tool uses that are not KnownDLLs
    // are delay-loaded, so none has been looked for yet; the static
    // initialisers that ran before this line load no library.
    RestrictLibrarySearchToSystemFolder();
    TModuleSequence parameters(ParameterModules());
    parameters.StartUp();
    TModuleSequence modules(ProgramModules());
    // The help page, a report, or a report meant but mistyped: no window.
    if (const std::optional<int> exitCode = RunWithoutWindow(modules, false))
        return *exitCode;
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
        // After the relocation the loop does not run: the hidden window goes
        // with the form and the modules shut down as at a normal end.
        exitCode = form.Terminating() ? form.TerminateCode() : RunMessageLoop(form.Handle());
        FormDERodos = nullptr;
    }
    modules.ShutDown();
    parameters.ShutDown();
    return exitCode;
}
