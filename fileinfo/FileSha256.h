// SHA-256 of a file's whole content, the digest vendors and scanners look
// files up by, computed by the system's cryptography (CNG).
#pragma once

#include <windows.h>

#include <string>

// True with 64 lower-case hexadecimal digits in ADigest; false with the
// system's error code in AErrorCode when the file cannot be read or the system
// has no SHA-256 provider (its status as the matching error code), ADigest then
// empty.
bool FileSha256(const std::wstring& AFilename, std::wstring& ADigest, DWORD& AErrorCode);
