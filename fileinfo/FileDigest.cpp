#include "fileinfo/FileDigest.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <intrin.h>
#define DERODO_X86 1
#elif defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define DERODO_X86 1
#endif

namespace {

constexpr std::uint32_t Sha1Initial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                          0xC3D2E1F0};

inline std::uint32_t Rol(std::uint32_t AValue, int ABits) {
    return (AValue << ABits) | (AValue >> (32 - ABits));
}

inline std::uint32_t LoadBigEndian(const std::uint8_t* AData) {
    return (std::uint32_t(AData[0]) << 24) | (std::uint32_t(AData[1]) << 16) |
           (std::uint32_t(AData[2]) << 8) | std::uint32_t(AData[3]);
}

#ifdef DERODO_X86
// Registers EAX, EBX, ECX, EDX of a cpuid leaf; zeros for a leaf above the highest.
void Cpuid(unsigned ALeaf, unsigned ASubLeaf, unsigned ARegisters[4]) {
#ifdef _MSC_VER
    int registers[4];
    __cpuid(registers, 0);
    if (static_cast<unsigned>(registers[0]) < ALeaf) {
        std::fill_n(ARegisters, 4, 0u);
        return;
    }
    __cpuidex(registers, static_cast<int>(ALeaf), static_cast<int>(ASubLeaf));
    std::copy_n(registers, 4, ARegisters);
#else
    if (!__get_cpuid_count(ALeaf, ASubLeaf, &ARegisters[0], &ARegisters[1], &ARegisters[2],
                           &ARegisters[3]))
        std::fill_n(ARegisters, 4, 0u);
#endif
}
#endif

// Size of the pieces a view is digested in: between two pieces the digest
// notices a view whose file has vanished.
constexpr std::size_t ViewPieceSize = 1 << 20;

// The view being digested on this thread, for the exception handler.
struct TViewRead {
    const std::uint8_t* Base;
    std::size_t Size;
    bool Unmapped = false;
    TVirtualMemory Replacement;
};
thread_local TViewRead* CurrentViewRead = nullptr;

// A page of a mapped view that the system cannot bring in raises an exception
// at the reading instruction: an in-page error on Windows (a network share
// gone, a disk failing), an access violation under Wine (the file cut short
// behind the mapping). Zero pages put in place of the view let the interrupted
// read complete; the digest that read belongs to is dropped.
LONG CALLBACK VanishedViewHandler(EXCEPTION_POINTERS* AException) {
    TViewRead* read = CurrentViewRead;
    const EXCEPTION_RECORD* record = AException->ExceptionRecord;
    if (!read || read->Unmapped || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const bool readFault = record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR ||
                           (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                            record->ExceptionInformation[0] == 0);
    const auto address = reinterpret_cast<const std::uint8_t*>(record->ExceptionInformation[1]);
    if (!readFault || address < read->Base || address >= read->Base + read->Size)
        return EXCEPTION_CONTINUE_SEARCH;
    if (!::UnmapViewOfFile(read->Base))
        return EXCEPTION_CONTINUE_SEARCH;
    read->Unmapped = true;
    read->Replacement.reset(::VirtualAlloc(const_cast<std::uint8_t*>(read->Base), read->Size,
                                           MEM_RESERVE | MEM_COMMIT, PAGE_READONLY));
    return read->Replacement.get() == read->Base ? EXCEPTION_CONTINUE_EXECUTION
                                                 : EXCEPTION_CONTINUE_SEARCH;
}

// A file cut short while it is read is read again as it is now. Each attempt
// that fails so needs another cut during it; the bound keeps a file cut and
// regrown without end from holding the caller.
constexpr int MaxDigestAttempts = 64;

std::optional<std::uint64_t> CurrentSize(HANDLE AFile) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(AFile, &size) || size.QuadPart < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

enum TFeedResult { frFed, frCutShort, frFailed };

// Feeds the content AFile has now into ASha1, through a mapping and a view of
// exactly the size taken first: a file growing meanwhile is digested as it
// was then, and nothing beyond the view is ever read. A file cut short while
// it was read may have left zeros in the view where its content was, even
// without a fault: its size afterwards tells, and its digest is then dropped.
TFeedResult FeedFileOnce(HANDLE AFile, TSha1& ASha1) {
    const std::optional<std::uint64_t> size = CurrentSize(AFile);
    if (!size)
        return frFailed;
    // The system refuses to map an empty file: nothing to feed.
    if (*size == 0)
        return frFed;
    // A file of 4 GiB or more is digested whole where the address space holds its view.
    if (*size > std::numeric_limits<SIZE_T>::max())
        return frFailed;
    bool fed = false;
    TKernelHandle mapping(::CreateFileMappingW(AFile, nullptr, PAGE_READONLY,
                                               static_cast<DWORD>(*size >> 32),
                                               static_cast<DWORD>(*size), nullptr));
    if (mapping) {
        TMappedView view(
            ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(*size)));
        fed = view && DigestMappedView(view, static_cast<std::size_t>(*size), ASha1);
    }
    const std::optional<std::uint64_t> after = CurrentSize(AFile);
    if (after && *after < *size)
        return frCutShort;
    return fed ? frFed : frFailed;
}

} // namespace

void Sha1BlocksPortable(std::uint32_t* AState, const std::uint8_t* ABlocks,
                        std::size_t ABlockCount) {
    for (; ABlockCount > 0; --ABlockCount, ABlocks += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBigEndian(ABlocks + 4 * i);
        std::uint32_t a = AState[0], b = AState[1], c = AState[2], d = AState[3], e = AState[4];
        for (int t = 0; t < 80; ++t) {
            if (t >= 16)
                w[t & 15] =
                    Rol(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
            std::uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const std::uint32_t next = Rol(a, 5) + f + e + k + w[t & 15];
            e = d;
            d = c;
            c = Rol(b, 30);
            b = a;
            a = next;
        }
        AState[0] += a;
        AState[1] += b;
        AState[2] += c;
        AState[3] += d;
        AState[4] += e;
    }
}

bool ProcessorHasShaExtensions() {
#ifdef DERODO_X86
    unsigned features[4], extended[4];
    Cpuid(1, 0, features);
    Cpuid(7, 0, extended);
    const bool ssse3 = features[2] & (1u << 9);
    const bool sse41 = features[2] & (1u << 19);
    const bool sha = extended[1] & (1u << 29);
    return ssse3 && sse41 && sha;
#else
    return false;
#endif
}

TSha1BlockFunction FastestSha1Blocks() {
    static const TSha1BlockFunction fastest =
        ProcessorHasShaExtensions() ? Sha1BlocksShaNi : Sha1BlocksPortable;
    return fastest;
}

TSha1::TSha1(TSha1BlockFunction ABlocks) : FBlocks(ABlocks) {
    std::copy_n(Sha1Initial, 5, FState);
}

TSha1::~TSha1() {
    ::SecureZeroMemory(FState, sizeof(FState));
    ::SecureZeroMemory(FBuffer, sizeof(FBuffer));
}

void TSha1::Update(const void* AData, std::size_t ASize) {
    auto* data = static_cast<const std::uint8_t*>(AData);
    FLength += ASize;
    if (FBuffered > 0) {
        const std::size_t take = std::min(ASize, sizeof(FBuffer) - FBuffered);
        std::memcpy(FBuffer + FBuffered, data, take);
        FBuffered += take;
        data += take;
        ASize -= take;
        if (FBuffered < sizeof(FBuffer))
            return;
        FBlocks(FState, FBuffer, 1);
        FBuffered = 0;
    }
    const std::size_t blocks = ASize / 64;
    if (blocks > 0) {
        FBlocks(FState, data, blocks);
        data += blocks * 64;
        ASize -= blocks * 64;
    }
    if (ASize > 0)
        std::memcpy(FBuffer, data, ASize);
    FBuffered = ASize;
}

TFileDigest TSha1::Finish() {
    // The byte 0x80, zeros, and the length in bits, big-endian, in the last
    // eight bytes of the final block.
    const std::uint64_t bits = FLength * 8;
    FBuffer[FBuffered++] = 0x80;
    if (FBuffered > 56) {
        std::fill(FBuffer + FBuffered, FBuffer + 64, std::uint8_t(0));
        FBlocks(FState, FBuffer, 1);
        FBuffered = 0;
    }
    std::fill(FBuffer + FBuffered, FBuffer + 56, std::uint8_t(0));
    for (int i = 0; i < 8; ++i)
        FBuffer[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    FBlocks(FState, FBuffer, 1);

    TFileDigest digest;
    for (int i = 0; i < 20; ++i)
        digest[i] = static_cast<std::uint8_t>(FState[i / 4] >> (24 - 8 * (i % 4)));
    ::SecureZeroMemory(FState, sizeof(FState));
    ::SecureZeroMemory(FBuffer, sizeof(FBuffer));
    FLength = 0;
    FBuffered = 0;
    return digest;
}

bool DigestMappedView(TMappedView& AView, std::size_t ASize, TSha1& ASha1) {
    TViewRead read{static_cast<const std::uint8_t*>(AView.get()), ASize, false, {}};
    {
        TVectoredHandler handler(::AddVectoredExceptionHandler(1, VanishedViewHandler));
        CurrentViewRead = &read;
        for (std::size_t done = 0; done < ASize && !read.Unmapped;) {
            const std::size_t piece = std::min(ViewPieceSize, ASize - done);
            ASha1.Update(read.Base + done, piece);
            done += piece;
        }
        CurrentViewRead = nullptr;
    }
    if (!read.Unmapped)
        return true;
    // The view is gone already; its zero pages go with read.Replacement.
    AView.release();
    return false;
}

void DigestFile(const std::wstring& AFilename, TFileDigest& ADigest) {
    ADigest = {};
    TFileHandle file(::CreateFileW(AFilename.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    for (int attempt = 0; file && attempt < MaxDigestAttempts; ++attempt) {
        TSha1 sha1;
        const TFeedResult result = FeedFileOnce(file.get(), sha1);
        if (result == frFed) {
            ADigest = sha1.Finish();
            return;
        }
        if (result == frFailed)
            break;
    }
    ADigest = TSha1().Finish();
}

std::wstring DigestToText(const TFileDigest& ADigest) {
    static constexpr wchar_t Digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(2 * ADigest.size());
    for (std::uint8_t byte : ADigest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}
