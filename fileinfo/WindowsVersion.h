// Which Windows the program runs on, found once at start-up, and its display
// name. The version API alone is not trusted: the manifest declares nothing
// after Windows 8.1, so later systems answer 6.3 there; kernel32's file
// version and the registry correct it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Filled by DetectWindowsVersion during start-up and only read afterwards.
extern OSVERSIONINFOW WindowsVersionInfo;

// Fills WindowsVersionInfo: the version API, then kernel32's file version,
// then the registry; each step keeps what the earlier ones found when it fails.
void DetectWindowsVersion();

// The steps, each improving AInfo; the registry step reads the values of an
// open key, so that it can be tried on a key of a test's own.
void ApplyVersionApi(OSVERSIONINFOW& AInfo);
void ApplyKernel32Version(OSVERSIONINFOW& AInfo);
void ApplyRegistryVersion(HKEY AKey, OSVERSIONINFOW& AInfo);

// The name of a version alone, as the table of names gives it ("Windows 10,
// Version 22H2"): no numbers, no service pack.
std::wstring WindowsReleaseName(std::uint32_t AMajor, std::uint32_t AMinor, std::uint32_t ABuild);
// The name of a version followed by its numbers: " [major.minor.build] " with
// numbers, " (Build: build) " without.
std::wstring WindowsVersionText(std::uint32_t AMajor, std::uint32_t AMinor, std::uint32_t ABuild,
                                bool AWithNumbers);
// The display text of the version AInfo holds, with its service-pack text,
// trimmed of characters of code 32 or below at both ends.
std::wstring WindowsVersionNameOf(const OSVERSIONINFOW& AInfo, bool AWithNumbers);
// The display text of the running version.
std::wstring WindowsVersionName(bool AWithNumbers);
