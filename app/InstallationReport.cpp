#include "app/InstallationReport.h"

#include "app/ReportGathering.h"

void ReportInstallation(TConsoleServices& AServices, TConsoleLog& ALog) {
    const TGathered<TInstallationFacts> gathered =
        GatherInstallationFacts(AServices, TFactsFor::Log);
    LogReport(ALog, InstallationReportLines(gathered.Facts), gathered.Error);
}
