// The operations of the other subsystems that the console calls, behind one
// interface of the console's own: the product binds the real ones
// (TSystemConsoleServices), tests bind fakes. Each operation joins this
// interface together with the subsystem that provides it.
#pragma once

#include <string>

class TConsoleServices {
public:
    virtual ~TConsoleServices() = default;

    // The state test's questions: the injection driver and the hook library
    // (HookInstance), the file-scan service (ProductServices).
    virtual bool IsInjectionDriverInstalled() = 0;
    virtual bool IsInjectionDriverRunning() = 0;
    virtual bool IsLibraryInjected() = 0;
    virtual bool FileScanServiceExists() = 0;
    virtual bool FileScanServiceRunning() = 0;

    // The Live Protection actions: one step each on HookInstance, true when
    // it succeeded; the direct activation, with its message when it fails.
    virtual bool InstallInjectionDriver() = 0;
    virtual bool LoadInjectionDriver() = 0;
    virtual bool StartInjectionDriver() = 0;
    virtual bool StopInjectionDriver() = 0;
    virtual bool UninstallInjectionDriver() = 0;
    virtual bool InjectLibrary32() = 0;
    virtual bool UnInjectLibrary32() = 0;
    virtual bool InstallHook(std::wstring& AErrorMessage) = 0;
    // The file-scan service: installed and started, and its loopback commands
    // (true when it answered with status 200).
    virtual bool FileScanServiceInstall() = 0;
    virtual bool FileScanServiceStart() = 0;
    virtual bool WebServiceLPActivate() = 0;
    virtual bool WebServiceInject() = 0;
    virtual bool WebServiceUninject() = 0;
};

// The real operations of the subsystems.
class TSystemConsoleServices : public TConsoleServices {
public:
    bool IsInjectionDriverInstalled() override;
    bool IsInjectionDriverRunning() override;
    bool IsLibraryInjected() override;
    bool FileScanServiceExists() override;
    bool FileScanServiceRunning() override;
    bool InstallInjectionDriver() override;
    bool LoadInjectionDriver() override;
    bool StartInjectionDriver() override;
    bool StopInjectionDriver() override;
    bool UninstallInjectionDriver() override;
    bool InjectLibrary32() override;
    bool UnInjectLibrary32() override;
    bool InstallHook(std::wstring& AErrorMessage) override;
    bool FileScanServiceInstall() override;
    bool FileScanServiceStart() override;
    bool WebServiceLPActivate() override;
    bool WebServiceInject() override;
    bool WebServiceUninject() override;
};
