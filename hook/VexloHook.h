// The product's hook: the hook settings bound to the Vexlo Live Protection
// driver and hook library, and the one instance the program works on.
#pragma once

#include <memory>
#include <string>

#include "hook/MadCodeHookImplementation.h"

// The product's hook files. Relative (".\QVHookDrv32.sys" ...) until the
// program's start-up puts the program's folder in front of each.
extern std::wstring HookDriverFile32;
extern std::wstring HookDriverFile64;
extern std::wstring HookLibraryFile32;
extern std::wstring HookLibraryFile64;

// Replaces each hook file path by AProgramFolder (with its trailing "\")
// followed by the file's bare name.
void MakeHookFilePathsAbsolute(const std::wstring& AProgramFolder);

class TVexloHook : public TMadCodeHookImplementation {
public:
    TVexloHook();
    explicit TVexloHook(std::unique_ptr<THookLayer> ALayer);

private:
    void SetProductSettings();
};

// The process-wide hook, from the program's start-up to its shut-down.
// Raises std::logic_error outside that time.
TVexloHook& HookInstance();

// Module steps: the hook file paths made absolute, then HookInstance created;
// HookInstance destroyed.
void StartUpVexloHook();
void ShutDownVexloHook();
