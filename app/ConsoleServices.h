// The operations of the other subsystems that the console calls, behind one
// interface of the console's own: the product binds the real ones
// (TSystemConsoleServices), tests bind fakes. Each operation joins this
// interface together with the subsystem that provides it.
#pragma once

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
};

// The real operations of the subsystems.
class TSystemConsoleServices : public TConsoleServices {
public:
    bool IsInjectionDriverInstalled() override;
    bool IsInjectionDriverRunning() override;
    bool IsLibraryInjected() override;
    bool FileScanServiceExists() override;
    bool FileScanServiceRunning() override;
};
