// The owner of WinHTTP handles (sessions, connections, requests), which only
// the test automation uses; the product talks HTTP through WinINet. It stands
// apart from Handles.h because winhttp.h and wininet.h cannot both be
// included in one source.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "platform/Handles.h"

using TWinHttpHandle = TUniqueHandle<TNullHandleTraits<HINTERNET, &::WinHttpCloseHandle>>;
