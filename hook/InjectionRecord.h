// Which libraries have been injected through a driver, so that "uninject all"
// finds them from any process. Kept in a volatile registry key: the record
// ends with the session, as the injections do.
#pragma once

#include <string>
#include <vector>

void RecordInjection(const std::wstring& ADriverName, const std::wstring& ALibraryFile);
void ForgetInjection(const std::wstring& ADriverName, const std::wstring& ALibraryFile);
// The library files recorded for the driver, as they were recorded.
std::vector<std::wstring> RecordedInjections(const std::wstring& ADriverName);
