// Which port the file-scan service's web interface is on, from the value its
// service key stores: the tool's rule and the service's, side by side.
#pragma once

#include <cstdint>
#include <optional>

constexpr uint16_t DefaultFileScanServicePort = 21323;

// AStored: the "ServiceWebPortFileScanner" value when it is a REG_DWORD,
// nothing otherwise. The value is returned as stored, read as a signed 32-bit
// number, even where it names no port (0, above 65535): the client refuses
// those, so nothing is sent to a port the service never named.
int32_t FileScanPortFromStored(std::optional<uint32_t> AStored);

// The port a service can listen on for AStored: the default where the stored
// value names no port.
uint16_t FileScanListenPortFromStored(std::optional<uint32_t> AStored);
