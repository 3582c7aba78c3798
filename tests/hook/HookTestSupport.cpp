#include "tests/hook/HookTestSupport.h"

#include "hook/MadCodeHookImplementation.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cwchar>

#include "hook/InjectionDriver.h"
#include "platform/WinText.h"
#include "tests/automation/Automation.h"
#include "tests/support/MachineLimits.h"

std::wstring TestUniqueName(const std::wstring& APrefix) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = APrefix;
    for (char c : std::string(test->test_suite_name()) + test->name()) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            name += static_cast<wchar_t>(c);
    }
    return name;
}

TTestDriver::TTestDriver(const std::wstring& ASuffix)
    : FName(TestUniqueName(L"QVTest") + ASuffix) {}

TTestDriver::~TTestDriver() {
    // A driver deleted while running goes away once it stops.
    InjStopDriver(FName.c_str());
    InjUninstallDriver(FName.c_str());
}

std::wstring TTestDriver::File32() {
    return TestProgramFolder() + L"QVHookDrv32.sys";
}

std::wstring TTestDriver::File64() {
    return TestProgramFolder() + L"QVHookDrv64.sys";
}

// The calling process's environment with one more variable, as a block for
// CreateProcessW.
std::wstring EnvironmentWith(const std::wstring& AVariable) {
    std::wstring block;
    if (const TEnvironmentStrings strings(::GetEnvironmentStringsW()); strings) {
        const wchar_t* end = strings.get();
        while (*end)
            end += std::wcslen(end) + 1;
        block.assign(static_cast<const wchar_t*>(strings.get()), end);
    }
    block += AVariable;
    block += L'\0';
    block += L'\0';
    return block;
}

TTargetProcess::TTargetProcess(const TScratchFolder& AFolder, const std::wstring& AExeName,
                               TTargetBehaviour ABehaviour, TTargetBitness ABitness) {
    const std::wstring program = AFolder.CopyFixture(
        ABitness == tb32 ? L"injectiontarget32.exe" : L"injectiontarget.exe", AExeName);
    FProgram = program;
    FAnswerBound = ProcessAnswerBound(ABitness == tb32);
    const std::wstring eventName = L"Local\\" + TestUniqueName(L"ready") + AExeName;
    const TKernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    FAsk.reset(::CreateEventW(nullptr, FALSE, FALSE, (eventName + L"-ask").c_str()));
    FTold.reset(::CreateEventW(nullptr, FALSE, FALSE, (eventName + L"-told").c_str()));
    std::wstring commandLine = L"\"" + program + L"\" " + eventName;
    if (ABehaviour == tbStuck)
        commandLine += L" hold-loader-lock";
    std::wstring environment;
    if (ABehaviour == tbRefusing)
        environment = EnvironmentWith(L"LIVEHOOK_REFUSE=1");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT,
                          environment.empty() ? nullptr : environment.data(), nullptr, &startup,
                          &info)) {
        ADD_FAILURE() << "cannot start " << WideToUtf8(program) << ": " << ::GetLastError();
        return;
    }
    FProcess.reset(info.hProcess);
    const TKernelHandle thread(info.hThread);
    FProcessId = info.dwProcessId;
    const HANDLE waits[] = {ready.get(), FProcess.get()};
    EXPECT_EQ(::WaitForMultipleObjects(2, waits, FALSE, FAnswerBound), WAIT_OBJECT_0)
        << "the injection target did not come up";
}

TTargetProcess::~TTargetProcess() {
    if (FProcess) {
        ::TerminateProcess(FProcess.get(), 0);
        ::WaitForSingleObject(FProcess.get(), 10000);
    }
}

bool TTargetProcess::Running() const {
    return FProcess && ::WaitForSingleObject(FProcess.get(), 0) == WAIT_TIMEOUT;
}

bool TTargetProcess::HasModule(const std::wstring& AFileName) const {
    // Toolhelp rather than the layer's own way of looking, so that the tests
    // do not trust what they test.
    const TFileHandle snapshot(
        ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, FProcessId));
    if (!snapshot)
        return false;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Module32FirstW(snapshot.get(), &entry); more;
         more = ::Module32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szModule, AFileName.c_str()) == 0)
            return true;
    }
    return false;
}

std::set<std::wstring> TTargetProcess::ReportedModules() const {
    std::set<std::wstring> modules;
    const std::wstring report = FProgram + L".modules";
    ::DeleteFileW(report.c_str());
    const HANDLE waits[] = {FTold.get(), FProcess.get()};
    if (!::SetEvent(FAsk.get()) ||
        ::WaitForMultipleObjects(2, waits, FALSE, FAnswerBound) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the injection target did not report its modules";
        return modules;
    }
    const TFileHandle file(::CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::wstring text(64 * 1024, L'\0');
    DWORD read = 0;
    if (!file || !::ReadFile(file.get(), text.data(),
                             static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr)) {
        ADD_FAILURE() << "cannot read " << WideToUtf8(report);
        return modules;
    }
    text.resize(read / sizeof(wchar_t));
    size_t start = 0;
    for (size_t end = text.find(L'\n'); end != std::wstring::npos;
         start = end + 1, end = text.find(L'\n', start)) {
        std::wstring name = text.substr(start, end - start);
        ::CharUpperW(name.data());
        modules.insert(name);
    }
    return modules;
}

void UseTestNames(TMadCodeHookImplementation& AHook, const TTestDriver& ADriver,
                  const TScratchFolder& AFolder, const std::wstring& AStem) {
    AHook.SetDriverName(ADriver.Name());
    AHook.SetDriverFilename32(TTestDriver::File32());
    AHook.SetDriverFilename64(TTestDriver::File64());
    AHook.SetLibraryFilename32(AFolder.CopyFixture(L"QVHook32.dll", AStem + L"32.dll"));
    AHook.SetLibraryFilename64(AFolder.CopyFixture(L"QVHook64.dll", AStem + L"64.dll"));
    AHook.SetIncludeMask(AStem + L".exe");
}
