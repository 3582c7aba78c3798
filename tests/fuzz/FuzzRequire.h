// What a fuzz target checks beyond the sanitizers: a property that does not
// hold ends the run as a crash, with the input kept.
#pragma once

#include <cstdlib>

inline void Require(bool ACondition) {
    if (!ACondition)
        std::abort();
}
