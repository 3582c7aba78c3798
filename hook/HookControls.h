// The Live Protection controls: the operations on the injection driver and
// the hook library that the console and the direct activation work with.
// Declared once here; HookInstance implements them for real, the console's
// seam hands them out and tests put the one scripted fake in their place.
#pragma once

#include <optional>

#include "hook/InjectionOutcomes.h"
#include "platform/Answer.h"

class THookControls {
public:
    virtual ~THookControls() = default;

    // The state questions: driver installed, driver running, hook library
    // loaded in this process.
    virtual bool IsInjectionDriverInstalled() = 0;
    virtual bool IsInjectionDriverRunning() = 0;
    virtual bool IsLibraryInjected() = 0;
    // The same questions as the state test asks them, where a question that
    // cannot be answered (without the rights to know it, most of all) is no
    // "no": unknown, with the error that kept the answer. Unless an
    // implementation tells more, each is its question's yes or no.
    virtual TAnswer AskInjectionDriverInstalled() {
        return TAnswer::Of(IsInjectionDriverInstalled());
    }
    virtual TAnswer AskInjectionDriverRunning() { return TAnswer::Of(IsInjectionDriverRunning()); }
    virtual TAnswer AskLibraryInjected() { return TAnswer::Of(IsLibraryInjected()); }

    // One step each, true when it succeeded; the cause of a failure stays the
    // thread's last error.
    virtual bool InstallInjectionDriver() = 0;
    virtual bool LoadInjectionDriver() = 0;
    virtual bool StartInjectionDriver() = 0;
    virtual bool StopInjectionDriver() = 0;
    virtual bool UninstallInjectionDriver() = 0;
    virtual bool InjectLibrary32() = 0;
    virtual bool UnInjectLibrary32() = 0;
    virtual bool UnInjectAllLibraries32() = 0;

    // What the last injection or uninjection did in the other processes,
    // taken once: none when none ran since it was last taken. Its answer
    // alone does not tell how many processes it reached.
    virtual std::optional<TInjectionOutcome> TakeInjectionOutcome() = 0;
};
