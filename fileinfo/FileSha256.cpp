#include "fileinfo/FileSha256.h"

#include <windows.h>

#include <bcrypt.h>
#include <winternl.h>

#include <array>
#include <vector>

#include "platform/Handles.h"

namespace {

// A CNG status as the system's error code, for a failure's text.
DWORD StatusError(NTSTATUS AStatus) {
    const ULONG error = ::RtlNtStatusToDosError(AStatus);
    return error != ERROR_MR_MID_NOT_FOUND ? error : ERROR_INTERNAL_ERROR;
}

// The digest of AFile from where it is read on, or the error that stopped it.
DWORD HashFile(HANDLE AFile, std::wstring& ADigest) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    NTSTATUS status =
        ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (status < 0)
        return StatusError(status);
    TAlgorithmProvider provider(algorithm);
    BCRYPT_HASH_HANDLE hashHandle = nullptr;
    // Without a buffer of ours the provider keeps the hash state itself.
    status = ::BCryptCreateHash(provider.get(), &hashHandle, nullptr, 0, nullptr, 0, 0);
    if (status < 0)
        return StatusError(status);
    THashObject hash(hashHandle);

    std::vector<UCHAR> buffer(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(AFile, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return ::GetLastError();
        if (read == 0)
            break;
        status = ::BCryptHashData(hash.get(), buffer.data(), read, 0);
        if (status < 0)
            return StatusError(status);
    }
    std::array<UCHAR, 32> digest{};
    status = ::BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (status < 0)
        return StatusError(status);
    static constexpr wchar_t Digits[] = L"0123456789abcdef";
    for (UCHAR byte : digest) {
        ADigest += Digits[byte >> 4];
        ADigest += Digits[byte & 15];
    }
    return ERROR_SUCCESS;
}

} // namespace

bool FileSha256(const std::wstring& AFilename, std::wstring& ADigest, DWORD& AErrorCode) {
    ADigest.clear();
    AErrorCode = ERROR_SUCCESS;
    TFileHandle file(::CreateFileW(AFilename.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        AErrorCode = ::GetLastError();
        return false;
    }
    AErrorCode = HashFile(file.get(), ADigest);
    if (AErrorCode == ERROR_SUCCESS)
        return true;
    ADigest.clear();
    return false;
}
