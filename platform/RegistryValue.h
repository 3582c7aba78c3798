// Reading a text value of the registry as the tool's callers want it: a
// missing value is empty text, one of another type is no text at all.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The string value AValueName (null: the default value) of the open key
// AKey, REG_SZ or REG_EXPAND_SZ, not expanded, without its terminating null.
// Empty text when the value is missing; none when it has another type or
// cannot be read.
std::optional<std::wstring> ReadStringValue(HKEY AKey, const wchar_t* AValueName);
