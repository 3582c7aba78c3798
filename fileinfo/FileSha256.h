// SHA-256 of a file's whole content, the digest vendors and scanners look
// files up by, computed by the system's cryptography (CNG).
#pragma once

#include <string>

// 64 lower-case hexadecimal digits; empty when the file cannot be read or the
// system has no SHA-256 provider.
std::wstring FileSha256(const std::wstring& AFilename);
