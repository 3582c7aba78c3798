#include "hook/ProcessRunner.h"

#include <thread>

#include "diagnostics/FailedCall.h"
#include "platform/HandleIO.h"
#include "platform/Handles.h"

namespace {

// One output stream of the child: it writes into the inheritable end, we read
// from the other, which the child must not inherit, or the pipe would never
// report its end while the child's copy of our end stays open.
struct TOutputPipe {
    TKernelHandle Read;
    TKernelHandle Write;

    bool Create() {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        return ::CreatePipe(Read.addressof(), Write.addressof(), &inheritable, 0) &&
               ::SetHandleInformation(Read.get(), HANDLE_FLAG_INHERIT, 0);
    }
};

// The list of the handles the child may inherit. Without it, a child started
// at the same time by another thread of the process could inherit our pipe
// ends and hold them open past our child's end.
class TInheritedHandles {
public:
    explicit TInheritedHandles(std::vector<HANDLE> AHandles) : FHandles(std::move(AHandles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        FBuffer.resize(size);
        if (!::InitializeProcThreadAttributeList(List(), 1, 0, &size))
            return;
        FInitialized = true;
        FComplete = ::UpdateProcThreadAttribute(List(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                FHandles.data(), FHandles.size() * sizeof(HANDLE),
                                                nullptr, nullptr) != FALSE;
    }
    TInheritedHandles(const TInheritedHandles&) = delete;
    TInheritedHandles& operator=(const TInheritedHandles&) = delete;
    ~TInheritedHandles() {
        if (FInitialized)
            ::DeleteProcThreadAttributeList(List());
    }

    bool Complete() const { return FComplete; }
    LPPROC_THREAD_ATTRIBUTE_LIST List() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(FBuffer.data());
    }

private:
    std::vector<HANDLE> FHandles; // the list points into this
    std::vector<char> FBuffer;
    bool FInitialized = false;
    bool FComplete = false;
};

std::wstring OemToWide(std::string_view AText) {
    if (AText.empty())
        return {};
    const int length = ::MultiByteToWideChar(CP_OEMCP, 0, AText.data(),
                                             static_cast<int>(AText.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_OEMCP, 0, AText.data(), static_cast<int>(AText.size()), wide.data(),
                          length);
    return wide;
}

TProcessRun NotStarted(DWORD AErrorCode, const wchar_t* ATag) {
    LogFailedCall(ATag, AErrorCode);
    TProcessRun run;
    run.ErrorCode = AErrorCode;
    return run;
}

} // namespace

std::vector<std::wstring> OutputLines(std::string_view AOutput) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < AOutput.size()) {
        size_t end = AOutput.find('\n', start);
        const size_t next = end == std::string_view::npos ? AOutput.size() : end + 1;
        if (end == std::string_view::npos)
            end = AOutput.size();
        else if (end > start && AOutput[end - 1] == '\r')
            --end;
        lines.push_back(OemToWide(AOutput.substr(start, end - start)));
        start = next;
    }
    return lines;
}

TProcessRun RunProcess(const std::wstring& AProgram, const std::wstring& AParameters) {
    TOutputPipe output, errors;
    if (!output.Create() || !errors.Create())
        return NotStarted(::GetLastError(), L"RunProcess.CreatePipe");
    // The child reads nothing: its input is the null device, which ends at once.
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    TFileHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!input)
        return NotStarted(::GetLastError(), L"RunProcess.CreateFileW");
    TInheritedHandles inherited({input.get(), output.Write.get(), errors.Write.get()});
    if (!inherited.Complete())
        return NotStarted(::GetLastError(), L"RunProcess.UpdateProcThreadAttribute");

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = output.Write.get();
    startup.StartupInfo.hStdError = errors.Write.get();
    startup.lpAttributeList = inherited.List();
    std::wstring commandLine = L"\"" + AProgram + L"\" " + AParameters;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(AProgram.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                          &startup.StartupInfo, &started))
        return NotStarted(::GetLastError(), L"RunProcess.CreateProcessW");
    TKernelHandle process(started.hProcess);
    TKernelHandle thread(started.hThread);
    // Only the child holds the writing ends now, so the reads end with it.
    input.reset();
    output.Write.reset();
    errors.Write.reset();

    TProcessRun run;
    run.Started = true;
    std::string errorText;
    std::string outputText;
    {
        // What a failed read leaves is what the program wrote until then.
        std::jthread errorReader([&] { ReadAll(errors.Read.get(), errorText); });
        ReadAll(output.Read.get(), outputText);
    }
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &run.ExitCode);
    run.Output = OutputLines(outputText);
    run.Errors = OutputLines(errorText);
    return run;
}
