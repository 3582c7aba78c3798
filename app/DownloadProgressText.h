// What the window's caption says while a file downloads: which file, how far,
// and the window's own title after it, so that the taskbar still names the tool.
#pragma once

#include <cstdint>
#include <string>

// "Downloading QVHook64.dll: 42% (120 of 286 KB) - <title>", or without an
// announced length "Downloading QVHook64.dll: 120 KB - <title>". The file is
// the last segment of AURL's path.
std::wstring DownloadProgressCaption(const std::wstring& AURL, int64_t AReceived, int64_t ATotal,
                                     const std::wstring& ATitle);

// The taskbar's share of the whole, in thousandths: 0 without an announced length.
int DownloadProgressPermille(int64_t AReceived, int64_t ATotal);
