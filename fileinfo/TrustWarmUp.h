// The system's root certificates are read once per process, when the first
// certificate chain is built: under Wine that reads the host's certificates,
// a tenth of a second and more, and the chain engine made for that first chain
// reads the system's stores again. Both are done on a thread of its own from
// start-up on, while the window is made and the versions and digests are read.
#pragma once

// Module steps: start the reading; wait until it is over.
void TrustWarmUpStartUp();
void TrustWarmUpShutDown();

// Returns once the warm-up is over, at once when none runs: true then. A
// check that builds a chain before it would make a chain engine of its own
// beside the warm-up's, under Wine reading every store once more. False when
// it is not over within a bound of some seconds.
bool WaitForTrustWarmUp();
