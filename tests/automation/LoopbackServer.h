// The loopback test server (fixtures/loopback/loopback_server.py), started by
// a test under Wine through its Unix path and ended when the object goes.
// Wine hands a Unix program it starts the starting program's own standard
// output and error and no process handle. The server's output goes to a file
// of its own instead: a server that ends after its test (half a second later
// as a rule) would otherwise hold the test's output open, and CTest waits for
// every holder of that output before it takes the test as ended.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/Handles.h"
#include "tests/support/UnixSide.h"

struct TLoopbackServerOptions {
    std::wstring Root;     // folder served below /files/ (Windows path)
    std::wstring Log;      // request log (Windows path)
    std::wstring CertFile; // PEM chain: serve HTTPS (Windows path)
    std::wstring KeyFile;
    std::string FilesPath;     // a URL path prefix that also serves Root's files
    uint16_t Port = 0;         // 0: any free port
    double SlowSeconds = 0;    // each file sent in pieces over this many seconds
    int OtherStatus = 0;       // the status of unscripted GET paths; 0: 404
    double TrickleSeconds = 0; // each file's bytes one at a time, this far apart
    // "silent" (never answers) or "unaccepted" (never accepts); empty: HTTP.
    std::string Mode;
};

class TLoopbackServer {
public:
    explicit TLoopbackServer(const TLoopbackServerOptions& AOptions = {});
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;
    // Asks the server to end (GET /shutdown; one of another mode ends once its
    // port file is gone).
    ~TLoopbackServer();

    uint16_t Port() const { return FPort; }
    bool Https() const { return !FOptions.CertFile.empty(); }

private:
    TLoopbackServerOptions FOptions;
    std::wstring FPortFile;
    std::wstring FOutputFile; // the server's standard output and error
    uint16_t FPort = 0;
    TKernelHandle FProcess;
};

// A fresh empty folder beside the test programs, for one test's files that
// the loopback server (a Linux program) reads or writes, at their Unix path
// (UnixPathOf).
std::wstring MakeTestFolder(const std::wstring& AName);
