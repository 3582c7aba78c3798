// Start-up and shut-down of the program's modules, in an order written out in
// code rather than left to static initialisation: each module starts after the
// modules it relies on, and the modules shut down in the reverse order.
#pragma once

#include <cstddef>
#include <vector>

struct TModuleStep {
    const char* Name;
    void (*StartUp)();  // may be null
    void (*ShutDown)(); // may be null
};

class TModuleSequence {
public:
    explicit TModuleSequence(std::vector<TModuleStep> ASteps);
    TModuleSequence(const TModuleSequence&) = delete;
    TModuleSequence& operator=(const TModuleSequence&) = delete;
    ~TModuleSequence();

    // Runs every start-up in order. When one raises, the modules already
    // started are shut down again and the error passes on.
    void StartUp();
    // Shuts down the started modules, last started first. Safe to call twice.
    void ShutDown() noexcept;

private:
    std::vector<TModuleStep> FSteps;
    std::size_t FStarted = 0;
};

// The modules that read the command line: they start first, so that the
// command line is understood before anything else starts, and shut down last.
std::vector<TModuleStep> ParameterModules();
// The tool's other modules in start-up order.
std::vector<TModuleStep> ProgramModules();
