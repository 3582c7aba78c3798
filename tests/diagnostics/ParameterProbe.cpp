// Registers the start-up parameters, writes which of them its command line
// sets ("help=1 verbose=0 silent=0"), then runs the help test: with a help
// switch the help page follows and the exit code is 0, otherwise it is 3.
#include <cstdio>

#include "diagnostics/CommandLineParameters.h"

int main() {
    CommandLineParametersStartUp();
    const TCommandLineParameterItems& basic = BasicParameterGroup().Parameters();
    const TCommandLineParameterItems& automation = AutomationParameterGroup().Parameters();
    std::printf("help=%d verbose=%d silent=%d\n", basic.FindParameterName(L"help")->IsSet(),
                basic.FindParameterName(L"verbose")->IsSet(),
                automation.FindParameterName(L"silent")->IsSet());
    std::fflush(stdout);
    CommandLineParameters().TestWriteLn();
    return 3;
}
