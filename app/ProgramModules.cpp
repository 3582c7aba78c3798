#include "app/Modules.h"

#include "app/ReportMode.h"
#include "diagnostics/CommandLineParameters.h"
#include "diagnostics/DebugLogger.h"
#include "diagnostics/Translate.h"
#include "download/DownloadRunner.h"
#include "download/WinINet.h"
#include "fileinfo/TrustCheckerInitialized.h"
#include "fileinfo/TrustLibrary.h"
#include "fileinfo/TrustWarmUp.h"
#include "fileinfo/WindowsVersion.h"
#include "hook/VexloHook.h"
#include "services/ProductServices.h"
#include "services/Services.h"

std::vector<TModuleStep> ParameterModules() {
    // The parameter registry, then the report's switches in it.
    return {
        {"command-line parameters", CommandLineParametersStartUp, CommandLineParametersShutDown},
        {"report parameters", ReportParametersStartUp, nullptr},
    };
}

std::vector<TModuleStep> ProgramModules() {
    // Dependency order, after the parameter modules: the debug logger, the reading of the root
    // certificates (it runs beside all that follows), the Windows version, the language, the
    // trust library, the service module, the product's file paths and service texts, the
    // product hook, the download client's user agent, then the download runner (shut down
    // first: the downloads it left behind use the client).
    return {
        {"debug logger", DebugLoggerStartUp, DebugLoggerShutDown},
        {"trust warm-up", TrustWarmUpStartUp, TrustWarmUpShutDown},
        {"Windows version", DetectWindowsVersion, nullptr},
        {"language", LanguageStartUp, LanguageShutDown},
        {"trust library", TrustLibraryStartUp, TrustLibraryShutDown},
        {"trust checker", TrustCheckerStartUp, TrustCheckerShutDown},
        {"Taurix.Services", ServicesStartUp, nullptr},
        {"vxnProductServices", ProductServicesStartUp, ProductServicesShutDown},
        {"VexloHook", StartUpVexloHook, ShutDownVexloHook},
        {"vxnWinAPIWinINet", WinINetStartUp, WinINetShutDown},
        {"download runner", nullptr, DownloadRunnerShutDown},
    };
}
