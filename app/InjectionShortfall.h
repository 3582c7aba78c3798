// The line that tells how far short of the processes it admitted an
// injection or uninjection fell. The layer's answer fails only for a late
// process, and the state test judges by the tool's own process: without this
// line an activation that reached half the system would read as a success.
#pragma once

#include <string>

#include "hook/InjectionOutcomes.h"

// The processes reached, admitted, late and without a thread, filled in this
// order into the "%d"s of the translated format ("%%" is a percent sign; a
// further "%d" stays as it is); empty when every admitted process was reached.
std::wstring InjectionShortfallLine(const std::wstring& AFormat, const TInjectionOutcome& AOutcome);
