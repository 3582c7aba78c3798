#include "Modules.h"

#include "CommandLineParameters.h"
#include "DebugLogger.h"
#include "ProductServices.h"
#include "ReportMode.h"
#include "Services.h"
#include "Translate.h"
#include "TrustCheckerInitialized.h"
#include "TrustLibrary.h"
#include "TrustWarmUp.h"
#include "VexloHook.h"
#include "WinINet.h"
#include "WindowsVersion.h"

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
    // product hook, then the download client's user agent.
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
    };
}
