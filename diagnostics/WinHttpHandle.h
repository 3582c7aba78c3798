// The owner of WinHTTP handles (sessions, connections, requests), beside the
// others of Handles.h. It stands apart because winhttp.h and wininet.h cannot
// both be included in one source.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "Handles.h"

using TWinHttpHandle = TUniqueHandle<TNullHandleTraits<HINTERNET, &::WinHttpCloseHandle>>;
