// The injection driver as a kernel-driver service named by the driver name:
// its registration and its running state under the service control manager.
//
// Every operation answers nonzero for success (for the questions: yes) and
// zero for failure (no). A failed operation leaves its cause as the thread's
// last error; the callers rely on that for install and start. A question's
// zero leaves why (ServiceAnswer in platform/Answer.h tells a no from a
// question that could not be answered): no such service, its registration
// marked for deletion, the driver stopped, or the error that kept the answer.
#pragma once

#include <windows.h>

// Registers the driver file that matches the running Windows (32 or 64 bit)
// as a kernel driver started with the system, or brings an existing
// registration to that configuration, and writes its description.
BOOL InjInstallDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64,
                      LPCWSTR ADescription);
// Runs the driver until the next restart without installing it. Without a
// registration: registers it, starts it and deletes the registration again,
// so that it goes when the driver stops. Over an existing registration
// (installed, or left by an earlier load): leaves it exactly as it is (start
// type, files, description) and only makes sure the driver runs; the driver
// files named are then not used.
BOOL InjLoadDriver(LPCWSTR ADriverName, LPCWSTR ADriverFile32, LPCWSTR ADriverFile64);
// Deletes the registration. A running driver keeps running until it is
// stopped or the system restarts.
BOOL InjUninstallDriver(LPCWSTR ADriverName);
// Starting a running driver succeeds.
BOOL InjStartDriver(LPCWSTR ADriverName);
// Stops the driver and waits, bounded, until it has stopped. Stopping a
// stopped driver succeeds.
BOOL InjStopDriver(LPCWSTR ADriverName);
// Registered and not marked for deletion. Only a change of the registration
// tells that for certain; where the right to change it is refused (a caller
// without elevation), the answer is InjIsDriverRegistrationStanding's.
BOOL InjIsDriverInstalled(LPCWSTR ADriverName);
// The same question with no more than the right to read the registration's
// configuration (RegistrationAnswer in platform/Answer.h): zero with
// ERROR_ACCESS_DENIED where that cannot tell.
BOOL InjIsDriverRegistrationStanding(LPCWSTR ADriverName);
BOOL InjIsDriverRunning(LPCWSTR ADriverName);

// Whether the driver runs; unlike the plain question, a "no" leaves its
// reason as the last error (ERROR_SERVICE_NOT_ACTIVE when it is stopped).
bool DriverRunsForInjection(LPCWSTR ADriverName);
