// What the hook tests share: names of their own, scratch folders, fixture
// drivers under test names and processes to inject into.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "platform/Handles.h"
#include "tests/support/TestFiles.h"

class TMadCodeHookImplementation;

// A name unique to the running test: APrefix and the test's name, letters and
// digits only (it names drivers, files and processes).
std::wstring TestUniqueName(const std::wstring& APrefix);

// A fixture driver registered under a name of the test's own: stopped and
// removed at the end whatever the test left.
class TTestDriver {
public:
    explicit TTestDriver(const std::wstring& ASuffix = L"");
    TTestDriver(const TTestDriver&) = delete;
    TTestDriver& operator=(const TTestDriver&) = delete;
    ~TTestDriver();
    const wchar_t* Name() const { return FName.c_str(); }
    // The fixture driver files beside the test program.
    static std::wstring File32();
    static std::wstring File64();

private:
    std::wstring FName;
};

// A copy of injectiontarget.exe (x64) or injectiontarget32.exe (32-bit x86,
// a WOW64 process) named AExeName, running until the end of the test. A
// stuck one keeps its loader lock, so nothing can load in it; in a refusing
// one the fixture hook library declines to load.
enum TTargetBitness { tb64, tb32 };
enum TTargetBehaviour { tbPlain, tbStuck, tbRefusing };
class TTargetProcess {
public:
    TTargetProcess(const TScratchFolder& AFolder, const std::wstring& AExeName,
                   TTargetBehaviour ABehaviour = tbPlain, TTargetBitness ABitness = tb64);
    TTargetProcess(const TTargetProcess&) = delete;
    TTargetProcess& operator=(const TTargetProcess&) = delete;
    ~TTargetProcess();
    DWORD ProcessId() const { return FProcessId; }
    bool Running() const;
    // Whether a module of that file name is loaded in the process.
    bool HasModule(const std::wstring& AFileName) const;
    // The file names of the modules loaded in the process, in capitals, as
    // the process itself reports them (in its own bitness).
    std::set<std::wstring> ReportedModules() const;

private:
    TKernelHandle FProcess;
    DWORD FProcessId = 0;
    std::wstring FProgram;
    TKernelHandle FAsk;
    TKernelHandle FTold;
    // How long the process is waited for, to come up or to answer.
    DWORD FAnswerBound = 0;
};

// Points AHook at ADriver and at copies of the fixture hook libraries named
// AStem + "32.dll" / "64.dll" in AFolder, injecting only into AStem + ".exe"
// besides the calling process: the product's settings with names of the
// test's own, so that nothing else in the session is touched.
void UseTestNames(TMadCodeHookImplementation& AHook, const TTestDriver& ADriver,
                  const TScratchFolder& AFolder, const std::wstring& AStem);
