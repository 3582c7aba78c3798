// The installation report in the window's log: its facts gathered, then
// written as lines.
#include "FormDERodos.h"
#include "ReportGathering.h"

void TFormDERodos::ReportInstallation() {
    const TGathered<TInstallationFacts> gathered = GatherInstallationFacts(FServices);
    AppendReport(InstallationReportLines(gathered.Facts), gathered.Error);
}
