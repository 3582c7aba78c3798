// SHA-1 of a file's whole content, read through one mapped view, and its
// hexadecimal text. The SHA-1 is our own: the processor's SHA instructions when
// it has them, a portable block function otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Handles.h"

// The digest in the standard's byte order: the first byte is the most
// significant byte of the first state word.
using TFileDigest = std::array<std::uint8_t, 20>;

// Digests AFilename: the content it has when its size is taken, read through
// a view of exactly that size. A file growing meanwhile is digested as it was
// then; a file cut short while it is read is read again as it is now. An empty
// file digests to the digest of empty input, da39a3ee5e6b4b0d3255bfef95601890afd80709.
// A file that cannot be read (no such file, no sharing, no access, no view,
// the file vanishing or being cut short again and again while it is read)
// answers false with the system's error code in AErrorCode; ADigest is then
// all zeros.
bool DigestFile(const std::wstring& AFilename, TFileDigest& ADigest, DWORD& AErrorCode);
// 40 lower-case hexadecimal digits, high nibble first.
std::wstring DigestToText(const TFileDigest& ADigest);

// Digests ABlockCount consecutive 64-byte blocks into the five state words.
using TSha1BlockFunction = void (*)(std::uint32_t* AState, const std::uint8_t* ABlocks,
                                    std::size_t ABlockCount);

void Sha1BlocksPortable(std::uint32_t* AState, const std::uint8_t* ABlocks,
                        std::size_t ABlockCount);
// Only on a processor with the SHA extensions (ProcessorHasShaExtensions).
void Sha1BlocksShaNi(std::uint32_t* AState, const std::uint8_t* ABlocks, std::size_t ABlockCount);
// SHA, SSSE3 and SSE4.1, as cpuid reports them.
bool ProcessorHasShaExtensions();
// The fastest block function this processor runs, chosen once.
TSha1BlockFunction FastestSha1Blocks();

// A running SHA-1 computation.
class TSha1 {
public:
    explicit TSha1(TSha1BlockFunction ABlocks = FastestSha1Blocks());
    TSha1(const TSha1&) = delete;
    TSha1& operator=(const TSha1&) = delete;
    ~TSha1();

    void Update(const void* AData, std::size_t ASize);
    // Pads, returns the digest and zero-fills the state; start a new TSha1 for
    // another message.
    TFileDigest Finish();

private:
    TSha1BlockFunction FBlocks;
    std::uint32_t FState[5];
    std::uint64_t FLength = 0; // bytes so far
    std::uint8_t FBuffer[64] = {};
    std::size_t FBuffered = 0;
};

// Feeds the whole view into ASha1 in one pass. When the file behind the view
// vanishes while it is read (a network share gone, a file cut short behind our
// back), the access fault is caught, the view is released and false returned
// with the reason in AErrorCode (the system's error for the page it could not
// bring in; ERROR_HANDLE_EOF where the fault gives none, as a file cut short
// under Wine does); ASha1 then holds part of the content and must be dropped.
// A large view is read ahead by a second thread, which brings its pages in
// while the hash runs (ViewReadAheadMinimum).
bool DigestMappedView(TMappedView& AView, std::size_t ASize, TSha1& ASha1, DWORD& AErrorCode);

// The views worth a second thread: below this the pages come in as fast as a
// thread starts.
inline constexpr std::size_t ViewReadAheadMinimum = 16 << 20;
