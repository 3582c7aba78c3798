// The product's services, one TServiceInfo9 each, and the operations on its
// file-scan service. The display texts are translated when the modules start
// and keep the language active then.
#pragma once

#include <array>
#include <cstddef>

#include "platform/Answer.h"
#include "services/Services.h"

inline constexpr size_t ProductServiceCount = 7;
// Entries 0 and 1 are the same service with different web ports; the
// file-scan service is entry 1.
inline constexpr size_t FileScanServiceIndex = 1;

extern std::array<TServiceInfo9, ProductServiceCount> ProductServices;

// Fills the table: the built-in names and ports, then the translations of the
// display names and descriptions, entry by entry. Translate must be ready.
void ProductServicesStartUp();
// Empties the table again.
void ProductServicesShutDown();

// The service primitives on the file-scan service. A false answer adds an
// error line of the operation's own, after the primitive's line, with the
// code the primitive left (0 when no system call failed).
bool FileScanServiceExists();
bool FileScanServiceRunning();
// The same two questions, each with its line, where a question that could
// not be answered (a manager or service refused to the caller, most of all)
// is unknown with the primitive's code rather than a "no".
TAnswer AskFileScanServiceExists();
TAnswer AskFileScanServiceRunning();
bool FileScanServiceStart();
// An exception of the standard kind raised on the way is logged as fatal and
// answered false.
bool FileScanServiceInstall();
