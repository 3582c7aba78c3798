// The real window with fakes behind its seam, for the window tests: its show
// event and one handler raise errors on request.
//
//   consolehost            the window; "Run Test (Service method)" raises,
//                          "Uninstall Live Protection" takes a second
//   consolehost showerror  its show event also raises after two lines
#include <windows.h>

#include <stdexcept>
#include <string>

#include "app/Application.h"
#include "tests/app/FakeConsoleServices.h"

namespace {

class TTestForm : public TFormDERodos {
public:
    TTestForm(TConsoleServices& AServices, bool AShowError)
        : TFormDERodos(AServices), FShowError(AShowError) {
        Action(TActionId::aTestService).OnExecute = [this] {
            LogInfo(L"before the error");
            throw std::runtime_error("Handler failed on purpose");
        };
        Action(TActionId::aTestDirect).OnExecute = [this] { LogSuccess(L"direct"); };
        Action(TActionId::aLPUninstall).OnExecute = [this] {
            LogInfo(L"slow action begins");
            ::Sleep(1000);
            LogInfo(L"slow action ends");
        };
    }

protected:
    void FormShow() override {
        LogSection(L"Start-up");
        LogInfo(L"shown");
        if (FShowError)
            throw std::runtime_error("Show failed on purpose");
        LogInfo(L"not reached when the show event fails");
    }

private:
    bool FShowError;
};

} // namespace

int WINAPI wWinMain(HINSTANCE AInstance, HINSTANCE, PWSTR ACommandLine, int) {
    TFakeConsoleServices services;
    TTestForm form(services, std::wstring(ACommandLine).find(L"showerror") != std::wstring::npos);
    FormDERodos = &form;
    form.Create(AInstance);
    form.Show();
    const int exitCode = RunMessageLoop(form.Handle());
    FormDERodos = nullptr;
    return exitCode;
}
