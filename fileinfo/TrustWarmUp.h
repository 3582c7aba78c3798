// The system's root certificates are read once per process, when the first
// certificate chain is built: under Wine that reads the host's certificates,
// a tenth of a second and more. Read on a thread of its own from start-up on,
// they are ready by the time the start-up report checks its first signed file,
// while the window is made and the versions are read meanwhile.
#pragma once

// Module steps: start the reading; wait until it is over.
void TrustWarmUpStartUp();
void TrustWarmUpShutDown();
