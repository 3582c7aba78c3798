#include "webclient/FileScanPort.h"

int32_t FileScanPortFromStored(std::optional<uint32_t> AStored) {
    if (!AStored)
        return DefaultFileScanServicePort;
    return static_cast<int32_t>(*AStored);
}

uint16_t FileScanListenPortFromStored(std::optional<uint32_t> AStored) {
    if (!AStored || *AStored == 0 || *AStored > 65535)
        return DefaultFileScanServicePort;
    return static_cast<uint16_t>(*AStored);
}
