// Which port the file-scan service's web interface is on, from the value its
// service key stores: one rule for the tool and for the service itself.
#pragma once

#include <cstdint>
#include <optional>

constexpr uint16_t DefaultFileScanServicePort = 21323;

// AStored: the "ServiceWebPortFileScanner" value when it is a REG_DWORD,
// nothing otherwise. No service can listen on port 0 (a client would even
// take it for the scheme's port 80) nor above 65535, so such values mean the
// default as well.
uint16_t FileScanPortFromStored(std::optional<uint32_t> AStored);
