// The one scripted fake of the hook controls: each operation answers from a
// script and is recorded in order by its name, so tests read like the
// behaviour they pin. A fake of more than the controls scripts its own
// operations with Ask (or Record, for one that answers no yes or no), and one
// list holds the calls of both in their order. Calls may come from two threads
// at once (the start-up report asks the state test's questions beside the
// report's): the record and the script are shared under a lock.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hook/HookControls.h"

class TScriptedHookControls : public THookControls {
public:
    // Operations answered in order, each operation by its name.
    std::vector<std::string> Calls;
    // Answers used first, one per call; then the standing answer (false when
    // none is given).
    std::map<std::string, std::deque<bool>> Next;
    std::map<std::string, bool> Standing;
    // Operations that raise an error instead of answering.
    std::set<std::string> Raising;
    // The thread's last error a false answer leaves, by operation (0 unless given).
    std::map<std::string, DWORD> Errors;
    // Questions that cannot be answered, by name, with the error that keeps
    // each answer: asked as the state test asks (AskInjectionDriverInstalled
    // and the like), they answer unknown, recorded under the question's name.
    std::map<std::string, DWORD> Unknown;

    bool IsInjectionDriverInstalled() override { return Ask("IsInjectionDriverInstalled"); }
    bool IsInjectionDriverRunning() override { return Ask("IsInjectionDriverRunning"); }
    bool IsLibraryInjected() override { return Ask("IsLibraryInjected"); }
    bool InstallInjectionDriver() override { return Ask("InstallInjectionDriver"); }
    bool LoadInjectionDriver() override { return Ask("LoadInjectionDriver"); }
    bool StartInjectionDriver() override { return Ask("StartInjectionDriver"); }
    bool StopInjectionDriver() override { return Ask("StopInjectionDriver"); }
    bool UninstallInjectionDriver() override { return Ask("UninstallInjectionDriver"); }
    bool InjectLibrary32() override { return Ask("InjectLibrary32"); }
    bool UnInjectLibrary32() override { return Ask("UnInjectLibrary32"); }
    bool UnInjectAllLibraries32() override { return Ask("UnInjectAllLibraries32"); }
    // Not an operation on the system: answered from Outcomes, the next one
    // for the next injection or uninjection, and not recorded.
    std::map<std::string, TInjectionOutcome> Outcomes;
    std::optional<TInjectionOutcome> TakeInjectionOutcome() override;
    TAnswer AskInjectionDriverInstalled() override {
        return AskAnswer("IsInjectionDriverInstalled",
                         [this] { return IsInjectionDriverInstalled(); });
    }
    TAnswer AskInjectionDriverRunning() override {
        return AskAnswer("IsInjectionDriverRunning", [this] { return IsInjectionDriverRunning(); });
    }
    TAnswer AskLibraryInjected() override {
        return AskAnswer("IsLibraryInjected", [this] { return IsLibraryInjected(); });
    }

    // Records AOperation and answers it from the script (or raises).
    bool Ask(const std::string& AOperation);
    // Records AOperation (with ADetail) and raises when it is to raise.
    void Record(const std::string& AOperation, const std::string& ADetail = {});
    // The question AQuestion asked as the state test asks it: unknown when
    // Unknown lists it (recorded), else AAsk's yes or no.
    TAnswer AskAnswer(const std::string& AQuestion, const std::function<bool()>& AAsk);

private:
    // The outcome of the last injection or uninjection answered, until taken.
    std::optional<TInjectionOutcome> FOutcome;
    // Shared by copies, so that a fake stays copyable.
    std::shared_ptr<std::mutex> FLock = std::make_shared<std::mutex>();
};
