#include "fileinfo/FileSha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <vector>

#include "platform/Handles.h"

namespace {

bool Succeeded(NTSTATUS AStatus) {
    return AStatus >= 0;
}

} // namespace

std::wstring FileSha256(const std::wstring& AFilename) {
    TFileHandle file(::CreateFileW(AFilename.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return {};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return {};
    TAlgorithmProvider provider(algorithm);
    BCRYPT_HASH_HANDLE hashHandle = nullptr;
    // Without a buffer of ours the provider keeps the hash state itself.
    if (!Succeeded(::BCryptCreateHash(provider.get(), &hashHandle, nullptr, 0, nullptr, 0, 0)))
        return {};
    THashObject hash(hashHandle);

    std::vector<UCHAR> buffer(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                        nullptr))
            return {};
        if (read == 0)
            break;
        if (!Succeeded(::BCryptHashData(hash.get(), buffer.data(), read, 0)))
            return {};
    }
    std::array<UCHAR, 32> digest{};
    if (!Succeeded(
            ::BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return {};
    static constexpr wchar_t Digits[] = L"0123456789abcdef";
    std::wstring text;
    for (UCHAR byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}
