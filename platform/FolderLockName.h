// The name of a folder's lock (TFolderLock), apart from the system.
#pragma once

#include <string>
#include <string_view>

// The folder in the one form every spelling of it comes to, given its full
// path with its links resolved and its letters in upper case: without the
// "\\?\" prefix (and "UNC\" for "\\"), without trailing "\".
std::wstring NormalisedFolder(std::wstring_view AResolvedFolder);
// The lock's name for a folder in its normalised form: APurpose, "-", and 16
// hexadecimal digits of a hash of the folder (FNV-1a, 64 bits, over its
// UTF-16 code units). Mutex names must not hold "\", and may be short.
std::wstring FolderLockName(std::wstring_view APurpose, std::wstring_view ANormalisedFolder);
