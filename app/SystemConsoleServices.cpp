// The console's operations bound to the product hook, the file-scan service
// and its loopback commands.
#include "ConsoleServices.h"

#include "FileScanWebClient.h"
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

bool TSystemConsoleServices::InstallInjectionDriver() {
    return HookInstance().InstallInjectionDriver();
}

bool TSystemConsoleServices::LoadInjectionDriver() {
    return HookInstance().LoadInjectionDriver();
}

bool TSystemConsoleServices::StartInjectionDriver() {
    return HookInstance().StartInjectionDriver();
}

bool TSystemConsoleServices::StopInjectionDriver() {
    return HookInstance().StopInjectionDriver();
}

bool TSystemConsoleServices::UninstallInjectionDriver() {
    return HookInstance().UninstallInjectionDriver();
}

bool TSystemConsoleServices::InjectLibrary32() {
    return HookInstance().InjectLibrary32();
}

bool TSystemConsoleServices::UnInjectLibrary32() {
    return HookInstance().UnInjectLibrary32();
}

bool TSystemConsoleServices::InstallHook(std::wstring& AErrorMessage) {
    return HookInstance().InstallHook(AErrorMessage);
}

bool TSystemConsoleServices::FileScanServiceInstall() {
    return ::FileScanServiceInstall();
}

bool TSystemConsoleServices::FileScanServiceStart() {
    return ::FileScanServiceStart();
}

bool TSystemConsoleServices::WebServiceLPActivate() {
    return ::WebServiceLPActivate();
}

bool TSystemConsoleServices::WebServiceInject() {
    return ::WebServiceInject();
}

bool TSystemConsoleServices::WebServiceUninject() {
    return ::WebServiceUninject();
}
