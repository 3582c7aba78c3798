#include "Modules.h"

#include "VexloHook.h"

std::vector<TModuleStep> ProgramModules() {
    // Dependency order: the parameter registry, the debug logger, the Windows
    // version, the language, the trust library, the service module, the
    // product's file paths and service texts, then the product hook.
    return {
        {"VexloHook", StartUpVexloHook, ShutDownVexloHook},
    };
}
