// The installation report in a log: the Windows version and, for each Live
// Protection file, its versions, digest and signature.
#pragma once

#include "app/ConsoleLog.h"
#include "app/ConsoleServices.h"

// Its facts gathered, then written as lines.
void ReportInstallation(TConsoleServices& AServices, TConsoleLog& ALog);
