#include "fileinfo/FileDigest.h"

#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

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
// notices a view whose file has vanished, and the read-ahead hears how far the
// hash has come.
constexpr std::size_t ViewPieceSize = 1 << 20;

// How far the read-ahead may run beyond the hash. Pages it brings in stay
// mapped, not cached: the bound only keeps it from running through a file
// that the hash may never reach.
constexpr std::size_t ReadAheadWindow = 64 << 20;

// The view being digested, for the exception handler; both threads of a
// read-ahead point at the same one.
struct TViewRead {
    TViewRead(const std::uint8_t* ABase, std::size_t ASize) : Base(ABase), Size(ASize) {}

    const std::uint8_t* Base;
    std::size_t Size;
    std::mutex Lock; // one handler at a time replaces the view
    std::atomic<bool> Unmapped = false;
    DWORD Fault = ERROR_SUCCESS;
    TVirtualMemory Replacement;
};
thread_local TViewRead* CurrentViewRead = nullptr;

// The reason a fault gives: an in-page error carries the status of the read
// that failed; an access violation (Wine's answer for a file cut short behind
// its mapping) carries none, and the file then ended before the view did.
DWORD FaultError(const EXCEPTION_RECORD& ARecord) {
    if (ARecord.ExceptionCode == EXCEPTION_IN_PAGE_ERROR && ARecord.NumberParameters >= 3) {
        const auto status = static_cast<NTSTATUS>(ARecord.ExceptionInformation[2]);
        if (const ULONG error = ::RtlNtStatusToDosError(status); error != ERROR_MR_MID_NOT_FOUND)
            return error;
    }
    return ERROR_HANDLE_EOF;
}

// A page of a mapped view that the system cannot bring in raises an exception
// at the reading instruction: an in-page error on Windows (a network share
// gone, a disk failing), an access violation under Wine (the file cut short
// behind the mapping). Zero pages put in place of the view let the interrupted
// read complete; the digest that read belongs to is dropped. The hash and its
// read-ahead may fault at once: the second finds the zero pages in place.
LONG CALLBACK VanishedViewHandler(EXCEPTION_POINTERS* AException) {
    TViewRead* read = CurrentViewRead;
    const EXCEPTION_RECORD* record = AException->ExceptionRecord;
    if (!read || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const bool readFault = record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR ||
                           (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                            record->ExceptionInformation[0] == 0);
    const auto address = reinterpret_cast<const std::uint8_t*>(record->ExceptionInformation[1]);
    if (!readFault || address < read->Base || address >= read->Base + read->Size)
        return EXCEPTION_CONTINUE_SEARCH;
    const std::lock_guard<std::mutex> replacing(read->Lock);
    if (!read->Unmapped) {
        if (!::UnmapViewOfFile(read->Base))
            return EXCEPTION_CONTINUE_SEARCH;
        read->Fault = FaultError(*record);
        read->Unmapped = true;
        read->Replacement.reset(::VirtualAlloc(const_cast<std::uint8_t*>(read->Base), read->Size,
                                               MEM_RESERVE | MEM_COMMIT, PAGE_READONLY));
    }
    return read->Replacement.get() == read->Base ? EXCEPTION_CONTINUE_EXECUTION
                                                 : EXCEPTION_CONTINUE_SEARCH;
}

std::size_t PageSize() {
    static const std::size_t size = [] {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return info.dwPageSize > 0 ? static_cast<std::size_t>(info.dwPageSize) : 4096;
    }();
    return size;
}

// Brings the pages of a large view in on a thread of its own, up to
// ReadAheadWindow beyond the hash: each page the hash reaches is then mapped
// already, and the cost of mapping it (under Wine the larger part of a
// digest's time) is spent on the other core. It stops when the hash stops and
// is joined before the view goes.
class TViewReadAhead {
public:
    explicit TViewReadAhead(TViewRead& ARead) : FRead(ARead) {
        if (ARead.Size < ViewReadAheadMinimum)
            return;
        try {
            FThread = std::jthread([this](const std::stop_token& AStop) { Run(AStop); });
        } catch (const std::system_error&) {
            // Without a thread the hash brings its pages in itself.
        }
    }
    TViewReadAhead(const TViewReadAhead&) = delete;
    TViewReadAhead& operator=(const TViewReadAhead&) = delete;
    ~TViewReadAhead() { Stop(); }

    // The hash has read the view up to AOffset. The read-ahead is woken only
    // when the hash has come as far as it waits for: a wake is a call into the
    // system on the hash's thread.
    void Hashed(std::size_t AOffset) {
        if (!FThread.joinable())
            return;
        FHashed.store(AOffset);
        if (AOffset >= FWakeAt.load())
            FHashed.notify_one();
    }

    void Stop() {
        if (!FThread.joinable())
            return;
        FThread.request_stop();
        FHashed.store(FRead.Size);
        FHashed.notify_one();
        FThread.join();
    }

private:
    void Run(const std::stop_token& AStop) {
        CurrentViewRead = &FRead;
        const std::size_t page = PageSize();
        for (std::size_t at = 0; at < FRead.Size; at += page) {
            if (at >= FHashed.load() + ReadAheadWindow) {
                // A window ahead: on again when the hash has read half of it.
                const std::size_t resume = at - ReadAheadWindow / 2;
                FWakeAt.store(resume);
                for (std::size_t hashed = FHashed.load();
                     hashed < resume && !AStop.stop_requested(); hashed = FHashed.load())
                    FHashed.wait(hashed);
                FWakeAt.store(NoWake);
            }
            if (AStop.stop_requested() || FRead.Unmapped)
                break;
            // One read a page brings the page in; volatile, so that it is made.
            static_cast<void>(*static_cast<const volatile std::uint8_t*>(FRead.Base + at));
        }
        CurrentViewRead = nullptr;
    }

    static constexpr std::size_t NoWake = std::numeric_limits<std::size_t>::max();

    TViewRead& FRead;
    std::atomic<std::size_t> FHashed{0};
    std::atomic<std::size_t> FWakeAt{NoWake}; // where the waiting read-ahead goes on
    std::jthread FThread;
};

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

struct TFeed {
    TFeedResult Result;
    DWORD Error = ERROR_SUCCESS; // why, unless fed
};

// Feeds the content AFile has now into ASha1, through a mapping and a view of
// exactly the size taken first: a file growing meanwhile is digested as it was
// then, and nothing beyond the view is ever read. A file cut short while it
// was read may have left zeros in the view where its content was, even
// without a fault: its size afterwards tells, and its digest is then dropped.
TFeed FeedFileOnce(HANDLE AFile, TSha1& ASha1) {
    const std::optional<std::uint64_t> size = CurrentSize(AFile);
    if (!size)
        return {frFailed, ::GetLastError()};
    // The system refuses to map an empty file: nothing to feed.
    if (*size == 0)
        return {frFed};
    // A file of 4 GiB or more is digested whole where the address space holds its view.
    if (*size > std::numeric_limits<SIZE_T>::max())
        return {frFailed, ERROR_NOT_ENOUGH_MEMORY};
    DWORD error = ERROR_SUCCESS;
    TKernelHandle mapping(::CreateFileMappingW(AFile, nullptr, PAGE_READONLY,
                                               static_cast<DWORD>(*size >> 32),
                                               static_cast<DWORD>(*size), nullptr));
    if (!mapping) {
        error = ::GetLastError();
    } else {
        TMappedView view(
            ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(*size)));
        if (!view)
            error = ::GetLastError();
        else
            DigestMappedView(view, static_cast<std::size_t>(*size), ASha1, error);
    }
    const std::optional<std::uint64_t> after = CurrentSize(AFile);
    if (after && *after < *size)
        return {frCutShort, ERROR_HANDLE_EOF};
    return {error == ERROR_SUCCESS ? frFed : frFailed, error};
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

bool DigestMappedView(TMappedView& AView, std::size_t ASize, TSha1& ASha1, DWORD& AErrorCode) {
    AErrorCode = ERROR_SUCCESS;
    TViewRead read(static_cast<const std::uint8_t*>(AView.get()), ASize);
    {
        TVectoredHandler handler(::AddVectoredExceptionHandler(1, VanishedViewHandler));
        CurrentViewRead = &read;
        TViewReadAhead ahead(read);
        for (std::size_t done = 0; done < ASize && !read.Unmapped;) {
            const std::size_t piece = std::min(ViewPieceSize, ASize - done);
            ASha1.Update(read.Base + done, piece);
            done += piece;
            ahead.Hashed(done);
        }
        ahead.Stop();
        CurrentViewRead = nullptr;
    }
    if (!read.Unmapped)
        return true;
    AErrorCode = read.Fault;
    // The view is gone already; its zero pages go with read.Replacement.
    AView.release();
    return false;
}

bool DigestFile(const std::wstring& AFilename, TFileDigest& ADigest, DWORD& AErrorCode) {
    ADigest = {};
    AErrorCode = ERROR_SUCCESS;
    TFileHandle file(::CreateFileW(AFilename.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        AErrorCode = ::GetLastError();
        return false;
    }
    for (int attempt = 0; attempt < MaxDigestAttempts; ++attempt) {
        TSha1 sha1;
        const TFeed feed = FeedFileOnce(file.get(), sha1);
        AErrorCode = feed.Error;
        if (feed.Result == frFed) {
            ADigest = sha1.Finish();
            return true;
        }
        if (feed.Result == frFailed)
            break;
    }
    return false;
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
