// The start-up report's and the state test's facts, asked of the console's
// seam in the order the log writes them (the state test asks the driver
// first). Nothing is written here: the caller renders the facts.
#pragma once

#include <exception>

#include "app/ConsoleServices.h"
#include "app/ReportFacts.h"

// Facts as far as they were gathered, and the error that ended the
// gathering early (none when it went through).
template <class TFacts> struct TGathered {
    TFacts Facts;
    std::exception_ptr Error;
};

// Who the facts are for. The log shows neither a file's size nor its SHA-256,
// and the SHA-256 is one more pass over every file: only the JSON has them read.
enum class TFactsFor { Log, Json };

TGathered<TInstallationFacts> GatherInstallationFacts(TConsoleServices& AServices, TFactsFor AFor);
TGathered<TStateFacts> GatherStateFacts(TConsoleServices& AServices);
// Both, the state test's questions asked beside the installation report's
// on a thread of their own; they share nothing. An error in the
// installation report leaves the state test out, as if it had not run.
TGathered<TReportFacts> GatherStartUpFacts(TConsoleServices& AServices, TFactsFor AFor);
