#include "FileScanPort.h"

uint16_t FileScanPortFromStored(std::optional<uint32_t> AStored) {
    if (!AStored || *AStored == 0 || *AStored > 65535)
        return DefaultFileScanServicePort;
    return static_cast<uint16_t>(*AStored);
}
