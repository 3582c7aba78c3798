// The SHA-1 block function on the processor's SHA extensions. This file alone
// is compiled for those instructions; FastestSha1Blocks calls it only after
// cpuid has reported them.
#include "fileinfo/FileDigest.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <immintrin.h>

#include <utility>

namespace {

constexpr std::size_t PrefetchDistance = 1024;

struct TShaNiState {
    __m128i Abcd;
    __m128i E;        // e for the next four rounds, plus the message words
    __m128i Previous; // ABCD before the last four rounds: the source of the next e
    __m128i Message[4];
};

// Rounds 4*I to 4*I+3. The message words of group I+4 are
// msg2(msg1(W[I], W[I+1]) xor W[I+2], W[I+3]); each step of that runs as early
// as its inputs allow, so that the rounds never wait for the schedule: the
// rounds are then bound by the throughput of the SHA unit, not by latency.
template <int I> inline void ShaNiGroup(TShaNiState& S) {
    __m128i* W = S.Message;
    S.Previous = S.Abcd;
    S.Abcd = _mm_sha1rnds4_epu32(S.Abcd, S.E, I / 5);
    if constexpr (I < 19)
        S.E = _mm_sha1nexte_epu32(S.Previous, W[(I + 1) % 4]);
    if constexpr (I <= 15) {
        W[I % 4] = _mm_xor_si128(W[I % 4], W[(I + 2) % 4]);
        W[I % 4] = _mm_sha1msg2_epu32(W[I % 4], W[(I + 3) % 4]);
    }
    // W[I+1] has given its e above and is free for the schedule.
    if constexpr (I <= 14)
        W[(I + 1) % 4] = _mm_sha1msg1_epu32(W[(I + 1) % 4], W[(I + 2) % 4]);
}

inline __m128i LoadWords(const std::uint8_t* AData, __m128i AByteSwap) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(AData)), AByteSwap);
}

template <std::size_t... I> inline void ShaNiBlock(TShaNiState& S, std::index_sequence<I...>) {
    (ShaNiGroup<static_cast<int>(I)>(S), ...);
}

} // namespace

void Sha1BlocksShaNi(std::uint32_t* AState, const std::uint8_t* ABlocks, std::size_t ABlockCount) {
    // The instructions keep a in the highest lane: the state words go in
    // reversed, and the message words byte-swapped to big-endian.
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(AState)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(AState[4]), 0, 0, 0);
    TShaNiState S;
    for (; ABlockCount > 0; --ABlockCount, ABlocks += 64) {
        // The hardware prefetcher stops at page boundaries, which a view of
        // 4 KiB pages crosses every 64 blocks; a prefetch never faults, also
        // past the end of the data.
        _mm_prefetch(reinterpret_cast<const char*>(ABlocks + PrefetchDistance), _MM_HINT_T0);
        S.Message[0] = LoadWords(ABlocks, byteSwap);
        S.Message[1] = LoadWords(ABlocks + 16, byteSwap);
        S.Message[2] = LoadWords(ABlocks + 32, byteSwap);
        S.Message[3] = LoadWords(ABlocks + 48, byteSwap);
        S.Abcd = abcd;
        S.E = _mm_add_epi32(e, S.Message[0]);
        S.Message[0] = _mm_sha1msg1_epu32(S.Message[0], S.Message[1]);
        ShaNiBlock(S, std::make_index_sequence<20>());
        e = _mm_sha1nexte_epu32(S.Previous, e);
        abcd = _mm_add_epi32(S.Abcd, abcd);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AState), _mm_shuffle_epi32(abcd, 0x1B));
    AState[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

#else

// No SHA extensions on this architecture: never chosen.
void Sha1BlocksShaNi(std::uint32_t* AState, const std::uint8_t* ABlocks, std::size_t ABlockCount) {
    Sha1BlocksPortable(AState, ABlocks, ABlockCount);
}

#endif
