// Program entry: the modules start in their order, the one window runs its
// message loop, the modules shut down in reverse order. The same shut-down
// follows when the window's start-up ends the program before it shows.
#include <windows.h>

#include "app/AlternativeFiles.h"
#include "app/Application.h"
#include "app/ConsoleServices.h"
#include "app/FormDERodos.h"
#include "app/LibrarySearch.h"
#include "app/Modules.h"
#include "app/ReportMode.h"
#include "diagnostics/CommandLineParameters.h"

// The program's threads: what each may touch and who joins it. Every thread
// the program starts is a std::jthread; none is detached while its owner can
// still join it.
// - The window's thread (this one): the modules' start-up and shut-down in
//   their order, the window, its log and every action. Only it writes into the
//   log; what another thread gathers comes back to it as data.
// - The start-up gathering: once the relocation check has returned, the show
//   event asks the installation report on the window's thread and the state
//   test on one jthread beside it (app/ReportGathering.cpp); each reads the system
//   and fills facts of its own, and the state test's thread is joined before
//   the lines are written. The /report mode does the same without a window.
// - A download attempt (download/DownloadRunner.cpp): each download's transfer runs
//   on a jthread that writes only into its own attempt (stream, watch, result),
//   while the window's thread waits for it with messages flowing. A transfer
//   that passed its bound or was cancelled and whose platform call has not
//   returned within the abandon grace is left behind: it logs nothing, nothing
//   it receives is used, and it is joined when it ends (by the next download or
//   the download runner's shut-down, which waits the grace at most); the
//   process's end takes one the platform still holds.
// - The trust warm-up (fileinfo/TrustWarmUp.cpp): reads the root certificates
//   and builds one chain, which leaves the system's chain engine made, and
//   touches nothing of ours; joined by its module's shut-down.
// - A digest's read-ahead (fileinfo/FileDigest.cpp): for a large file, brings
//   the pages of the view being digested in ahead of the hash and reads
//   nothing else; the digest stops it and joins it before the view goes.
// - The process runner's error reader (hook/ProcessRunner.cpp): reads a
//   started program's standard error into its caller's text while the caller
//   reads standard output; joined before the runner returns.
// - The injection workers (hook/RemoteThreads.cpp): an injection or
//   uninjection deals with the other processes on at most eight jthreads, the
//   calling thread among them, first opening and starting, then waiting and
//   cleaning up; each writes only the slots of the processes it took and logs
//   nothing. All are joined before the call counts the outcomes and writes its
//   line on the calling thread.
// The test programs add their own, jthreads as well: the automation's press
// thread, which clicks a button of the tool and returns when the tool's
// handler has (joined then, or left to the test program's end when the tool
// hangs), and helper threads of single tests, each joined by its test.
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
