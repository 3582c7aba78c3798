// The state test's questions, bound to the product hook and the file-scan service.
#include "ConsoleServices.h"

#include "ProductServices.h"
#include "VexloHook.h"

bool TSystemConsoleServices::IsInjectionDriverInstalled() {
    return HookInstance().IsInjectionDriverInstalled();
}

bool TSystemConsoleServices::IsInjectionDriverRunning() {
    return HookInstance().IsInjectionDriverRunning();
}

bool TSystemConsoleServices::IsLibraryInjected() {
    return HookInstance().IsLibraryInjected();
}

bool TSystemConsoleServices::FileScanServiceExists() {
    return ::FileScanServiceExists();
}

bool TSystemConsoleServices::FileScanServiceRunning() {
    return ::FileScanServiceRunning();
}
