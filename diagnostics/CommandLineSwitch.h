// How a word on the command line is matched against a switch or a declared
// parameter, apart from the platform calls. Free of platform headers: fuzzed
// natively (the case-blind comparison comes from WinText).
#pragma once

#include <string_view>

// Whether AArgument is "-" or "/" followed by AWord, in any case.
bool IsCmdLineSwitch(std::wstring_view AArgument, std::wstring_view AWord);

// Whether AArgument is the switch AWord with a value: "-" or "/", AWord in
// any case, a colon and the value, which may be empty.
bool IsCmdLineValueSwitch(std::wstring_view AArgument, std::wstring_view AWord);

// Whether AText names the parameter AName, written bare or after "/", "--",
// "-" or "/--", in any case.
bool NamesParameter(std::wstring_view AText, std::wstring_view AName);
