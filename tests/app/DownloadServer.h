// The loopback test server as the download server of the tool's test build
// (derodo_loopbackdownload.exe): HTTPS on its fixed port, with the test CA's
// certificate, serving a folder's files at the alternative files' path.
#pragma once

#include <string>

#include "tests/automation/Automation.h"
#include "tests/automation/LoopbackServer.h"

// The path of the alternative files on the download server.
inline const std::string FilesPath =
    "/Vexlo2/special-purpose-test-versions/RodeVadudazovi/files-2.7/";

// AServed's files; with ASlowSeconds, each sent in pieces over that many seconds.
inline TLoopbackServerOptions DownloadServer(const std::wstring& AServed, double ASlowSeconds = 0) {
    TLoopbackServerOptions options;
    options.Root = AServed;
    options.FilesPath = FilesPath;
    options.CertFile = TestProgramFolder() + L"testca\\server.pem";
    options.KeyFile = TestProgramFolder() + L"testca\\server.key";
    options.Port = DERODO_LOOPBACK_DOWNLOAD_PORT;
    options.SlowSeconds = ASlowSeconds;
    return options;
}
