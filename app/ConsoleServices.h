// The operations of the other subsystems that the console calls, behind one
// interface of the console's own: the product binds the real ones
// (TSystemConsoleServices), tests bind fakes. Each operation joins this
// interface together with the subsystem that provides it.
#pragma once

class TConsoleServices {
public:
    virtual ~TConsoleServices() = default;
};

// The real operations of the subsystems.
class TSystemConsoleServices : public TConsoleServices {};
