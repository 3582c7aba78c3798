// The nine Live Protection buttons over the console's seam and a log: seven
// single steps on the driver and the hook library, and the two whole
// activation tests. Each ends with the state test, so the state reached
// stands right below the action.
#pragma once

#include <vector>

#include "app/ConsoleLog.h"
#include "app/ConsoleServices.h"
#include "app/FormLayout.h"

// The buttons that take one step each.
const std::vector<TActionId>& SingleStepActions();
// The step of the button AAction, one of SingleStepActions: its failure
// lines, for a driver Windows refused what to check, for an injection or
// uninjection the processes it did not reach, then the state test.
void RunSingleStep(TConsoleServices& AServices, TConsoleLog& ALog, TActionId AAction);

// "Run test (direct method)": InstallHook, then the state test.
void RunDirectTest(TConsoleServices& AServices, TConsoleLog& ALog);
// "Run Test (Service method)": the file-scan service installed and started
// where it is not, asked to activate, then the state test.
void RunServiceTest(TConsoleServices& AServices, TConsoleLog& ALog);
