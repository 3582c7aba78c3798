// The scanner stand-in (fixtures/scanner: an on-access scanner's opens of
// each new file) over a folder, for one test: watching once constructed,
// ended with the object.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/Handles.h"

struct TScannerOptions {
    DWORD HoldMs = 300;
    // The scanner's open shares reading; otherwise it shares nothing.
    bool ShareRead = false;
    // The first file of this path below the folder is deleted as it is let go.
    std::wstring Quarantine;
};

class TScannerProcess {
public:
    // Starts the scanner AProgram over AFolder; raises when it does not watch
    // within a minute.
    TScannerProcess(const std::wstring& AProgram, const std::wstring& AFolder,
                    const TScannerOptions& AOptions);
    TScannerProcess(const TScannerProcess&) = delete;
    TScannerProcess& operator=(const TScannerProcess&) = delete;
    ~TScannerProcess();

    // The files it has opened so far, by their path below the folder, and
    // the one it quarantined.
    std::vector<std::wstring> Held() const;
    std::wstring QuarantinedFile() const;

private:
    std::vector<std::wstring> LogLines() const;

    std::wstring FReady, FLog;
    TKernelHandle FProcess;
};
