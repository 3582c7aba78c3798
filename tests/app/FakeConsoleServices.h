// A scripted fake of the console's seam: each operation answers from a script
// and is recorded in order, so console tests read like the behaviour they pin.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ConsoleServices.h"
#include "FormDERodos.h"

class TFakeConsoleServices : public TConsoleServices {
public:
    // Operations answered in order, each operation by its name.
    std::vector<std::string> Calls;
    // Answers used first, one per call; then the standing answer (false when
    // none is given).
    std::map<std::string, std::deque<bool>> Next;
    std::map<std::string, bool> Standing;
    // Operations that raise an error instead of answering.
    std::set<std::string> Raising;
    // The message InstallHook leaves when it answers false.
    std::wstring InstallHookMessage = L"Could not activate the Live Protection.";

    bool IsInjectionDriverInstalled() override { return Ask("IsInjectionDriverInstalled"); }
    bool IsInjectionDriverRunning() override { return Ask("IsInjectionDriverRunning"); }
    bool IsLibraryInjected() override { return Ask("IsLibraryInjected"); }
    bool FileScanServiceExists() override { return Ask("FileScanServiceExists"); }
    bool FileScanServiceRunning() override { return Ask("FileScanServiceRunning"); }
    bool InstallInjectionDriver() override { return Ask("InstallInjectionDriver"); }
    bool LoadInjectionDriver() override { return Ask("LoadInjectionDriver"); }
    bool StartInjectionDriver() override { return Ask("StartInjectionDriver"); }
    bool StopInjectionDriver() override { return Ask("StopInjectionDriver"); }
    bool UninstallInjectionDriver() override { return Ask("UninstallInjectionDriver"); }
    bool InjectLibrary32() override { return Ask("InjectLibrary32"); }
    bool UnInjectLibrary32() override { return Ask("UnInjectLibrary32"); }
    bool InstallHook(std::wstring& AErrorMessage) override {
        const bool active = Ask("InstallHook");
        if (!active)
            AErrorMessage = InstallHookMessage;
        return active;
    }
    bool FileScanServiceInstall() override { return Ask("FileScanServiceInstall"); }
    bool FileScanServiceStart() override { return Ask("FileScanServiceStart"); }
    bool WebServiceLPActivate() override { return Ask("WebServiceLPActivate"); }
    bool WebServiceInject() override { return Ask("WebServiceInject"); }
    bool WebServiceUninject() override { return Ask("WebServiceUninject"); }

protected:
    bool Ask(const std::string& AOperation) {
        Calls.push_back(AOperation);
        if (Raising.count(AOperation))
            throw std::runtime_error(AOperation + " failed on purpose");
        std::deque<bool>& next = Next[AOperation];
        if (!next.empty()) {
            const bool answer = next.front();
            next.pop_front();
            return answer;
        }
        const auto standing = Standing.find(AOperation);
        return standing != Standing.end() && standing->second;
    }
};

// The real form's writers, its lines kept instead of shown.
class TLogForm : public TFormDERodos {
public:
    using TFormDERodos::TFormDERodos;
    std::vector<std::wstring> Lines;

protected:
    void AppendLine(const std::wstring& ALine) override { Lines.push_back(ALine); }
};
