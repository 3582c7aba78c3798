// The installation report in the window's log: its facts gathered, then
// written as lines.
#include "app/FormDERodos.h"
#include "app/ReportGathering.h"

void TFormDERodos::ReportInstallation() {
    const TGathered<TInstallationFacts> gathered =
        GatherInstallationFacts(FServices, TFactsFor::Log);
    AppendReport(InstallationReportLines(gathered.Facts), gathered.Error);
}
