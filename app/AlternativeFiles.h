// Replacing Live Protection files with alternative builds, with backups.
#pragma once

#include <string>

// Deletes the file at APath, or removes the directory link or junction there
// (not the folder it points to). On failure the thread's last error is the
// deletion's, so the caller's message describes it.
bool DeleteFileOrLink(const std::wstring& APath);
