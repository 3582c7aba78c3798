// The installation report in the window's log: its facts gathered, then
// written as lines.
#include "app/FormDERodos.h"
#include "app/ReportGathering.h"

void TFormDERodos::ReportInstallation() {
    const TGathered<TInstallationFacts> gathered = GatherInstallationFacts(FServices);
    AppendReport(InstallationReportLines(gathered.Facts), gathered.Error);
}
