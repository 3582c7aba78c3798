#include "app/InjectionShortfall.h"

#include <array>
#include <cstddef>

std::wstring InjectionShortfallLine(const std::wstring& AFormat,
                                    const TInjectionOutcome& AOutcome) {
    const size_t unreached = AOutcome.Unreached();
    if (unreached == 0)
        return {};
    const size_t admitted = AOutcome.Admitted();
    const std::array<size_t, 4> values = {admitted - unreached, admitted, AOutcome.Counts[iokLate],
                                          AOutcome.Counts[iokNotStarted]};
    std::wstring line;
    size_t next = 0;
    for (size_t i = 0; i < AFormat.size(); ++i) {
        if (AFormat[i] == L'%' && i + 1 < AFormat.size()) {
            if (AFormat[i + 1] == L'%') {
                line += L'%';
                ++i;
                continue;
            }
            if (AFormat[i + 1] == L'd' && next < values.size()) {
                line += std::to_wstring(values[next++]);
                ++i;
                continue;
            }
        }
        line += AFormat[i];
    }
    return line;
}
