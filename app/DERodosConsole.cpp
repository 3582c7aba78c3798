// The console twin's entry: the report and the help page, nothing else. As a
// console program it is waited for by cmd and PowerShell, which hand it their
// standard handles and see its exit code; it opens no window and no box.
#include "app/LibrarySearch.h"
#include "app/Modules.h"
#include "app/ReportMode.h"
#include "diagnostics/CommandLineParameters.h"

int wmain() {
    // As in the window's entry: before any library is looked for.
    RestrictLibrarySearchToSystemFolder();
    TModuleSequence parameters(ParameterModules());
    parameters.StartUp();
    TModuleSequence modules(ProgramModules());
    // The console program answers every command line itself.
    const int exitCode = RunWithoutWindow(modules, true).value_or(ReportNotWrittenExitCode);
    modules.ShutDown();
    parameters.ShutDown();
    return exitCode;
}
