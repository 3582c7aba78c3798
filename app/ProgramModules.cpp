#include "Modules.h"

#include "CommandLineParameters.h"
#include "DebugLogger.h"
#include "ProductServices.h"
#include "Services.h"
#include "Translate.h"
#include "VexloHook.h"

std::vector<TModuleStep> ProgramModules() {
    // Dependency order: the parameter registry, the debug logger, the Windows
    // version, the language, the trust library, the service module, the
    // product's file paths and service texts, then the product hook.
    return {
        {"command-line parameters", CommandLineParametersStartUp, CommandLineParametersShutDown},
        {"debug logger", DebugLoggerStartUp, DebugLoggerShutDown},

        // Windows version detection.

        {"language", LanguageStartUp, LanguageShutDown},

        // Trust library and TrustChecker.

        {"Taurix.Services", ServicesStartUp, nullptr},
        {"ProductServices", ProductServicesStartUp, ProductServicesShutDown},
        {"VexloHook", StartUpVexloHook, ShutDownVexloHook},
    };
}
