// SHA-256 blocks for x86 processors without the SHA instructions: the
// message schedule is computed four words at a time in vector registers
// while the rounds run in general registers, so the two overlap. The rounds
// read W[t] + K[t] from a small table on the stack, written by the vector
// code ahead of them.
//
// Two versions, each compiled for its own instruction set with target
// attributes (the rest of the program needs no special compiler flags and
// runs on any x86 processor):
//   SSSE3  PSHUFB for the byte order, PALIGNR for the shifted word windows;
//          one block at a time.
//   AVX2   two blocks' schedules at once in the two halves of a YMM register,
//          and BMI2's RORX (rotation into another register) in the rounds.
// An AVX version of the first (the same code in three-operand encodings)
// measured slower than the SSSE3 one, so processors with AVX but not AVX2
// use the SSSE3 version.
//
// The same code builds for i686, where the eight working variables do not
// fit in the general registers: the compiler keeps some of them on the stack
// and reads them as memory operands (about nine stack reads and three writes
// per round, against none on x86-64).
#include "manifest/sha256_engine.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include <bit>

namespace korvanta::sha256_detail {
namespace {

#define KORVANTA_SSSE3 __attribute__((target("ssse3")))
#define KORVANTA_AVX2 __attribute__((target("avx2")))
#define KORVANTA_ALWAYS_INLINE inline __attribute__((always_inline))

// --- Rounds (FIPS 180-4, 6.2.2 step 3), in general registers ----------------

KORVANTA_ALWAYS_INLINE std::uint32_t big_sigma0(std::uint32_t x) noexcept {
  return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
KORVANTA_ALWAYS_INLINE std::uint32_t big_sigma1(std::uint32_t x) noexcept {
  return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
KORVANTA_ALWAYS_INLINE std::uint32_t choose(std::uint32_t e, std::uint32_t f, std::uint32_t g) noexcept {
  return g ^ (e & (f ^ g));
}
// a ^ b of one round is b ^ c of the next; the compiler keeps it.
KORVANTA_ALWAYS_INLINE std::uint32_t majority(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept {
  return ((a ^ b) & (b ^ c)) ^ b;
}

// One round with wk = W[t] + K[t], in one of two forms. Each writes only d
// and h; the caller renames the variables for the next round instead of
// moving them. KORVANTA_KEEP(x) makes the compiler take x as computed at that
// point: it would regroup the sums otherwise (integer addition is
// associative), and not in the order that is fastest here.
#define KORVANTA_KEEP(x) __asm__("" : "+r"(x))

// T1 = h + wk + Ch(e, f, g) + Sigma1(e) summed in h, then added to d: the
// fewest values live at once. The SSSE3 engine uses it: without RORX every
// rotation needs a copy of its operand, and this form was the faster one
// there, with sixteen general registers and with eight.
#define KORVANTA_ROUND_T1(a, b, c, d, e, f, g, h, wk) \
  do {                                                \
    h += (wk);                                        \
    h += choose(e, f, g);                             \
    KORVANTA_KEEP(h);                                 \
    h += big_sigma1(e);                               \
    d += h;                                           \
    h += majority(a, b, c) + big_sigma0(a);           \
  } while (0)

// The new e (written to d) as d + h + wk + Ch(e, f, g) + Sigma1(e), summed
// in that order so that only the last two additions wait for e: the chain
// from one round's e to the next is one rotation, two XORs and one addition
// instead of three additions after Sigma1. Two more additions per round; the
// AVX2 engine uses it, where RORX leaves registers for both partial sums
// (2 to 5 % faster than the T1 form on x86-64 and with i686's registers).
#define KORVANTA_ROUND_SHORT_CHAIN(a, b, c, d, e, f, g, h, wk) \
  do {                                                         \
    h += (wk);                                                 \
    d += h;                                                    \
    KORVANTA_KEEP(d);                                          \
    const std::uint32_t ch = choose(e, f, g);                  \
    const std::uint32_t s1 = big_sigma1(e);                    \
    d += ch;                                                   \
    KORVANTA_KEEP(d);                                          \
    d += s1;                                                   \
    h += ch;                                                   \
    h += s1;                                                   \
    h += majority(a, b, c) + big_sigma0(a);                    \
  } while (0)

// Four rounds from wk[0..3]; after FOUR_A the names have turned by four, so
// FOUR_B follows it, and after both they are back in place. Each group
// starts with a compiler barrier: without it the compiler moves the whole
// message schedule of a block ahead of its rounds, and the two no longer
// overlap (measured 2 to 4 % slower).
#define KORVANTA_FOUR_A(round, wk)         \
  __asm__ volatile("" ::: "memory");      \
  round(a, b, c, d, e, f, g, h, (wk)[0]); \
  round(h, a, b, c, d, e, f, g, (wk)[1]); \
  round(g, h, a, b, c, d, e, f, (wk)[2]); \
  round(f, g, h, a, b, c, d, e, (wk)[3])
#define KORVANTA_FOUR_B(round, wk)         \
  __asm__ volatile("" ::: "memory");      \
  round(e, f, g, h, a, b, c, d, (wk)[0]); \
  round(d, e, f, g, h, a, b, c, (wk)[1]); \
  round(c, d, e, f, g, h, a, b, (wk)[2]); \
  round(b, c, d, e, f, g, h, a, (wk)[3])

// --- Message schedule (FIPS 180-4, 6.2.2 step 1), four words per vector -----
//
// x0..x3 hold W[t-16..t-1], four words each, lowest lane first. The next
// four words W[t..t+3] are
//   x0 + sigma0(W[t-15..t-12]) + W[t-7..t-4] + sigma1(W[t-2..t+1]),
// where the last term needs W[t] and W[t+1] themselves: sigma1 is done for
// two lanes at a time, first from W[t-2], W[t-1] (the top of x3), then from
// the two new words. There is no vector rotation before AVX-512; sigma1 gets
// its rotations from 64-bit shifts of a word copied into both halves of a
// quadword, sigma0 (four lanes) from pairs of 32-bit shifts.

// Byte order (message words are big-endian) and the two placements of the
// sigma1 pairs; a byte index with the top bit set gives a zero byte.
alignas(32) constexpr std::uint8_t kByteSwap[32] = {3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                                    3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12};
// Lanes 0 and 2 into lanes 0 and 1, zeros above.
alignas(32) constexpr std::uint8_t kPairLow[32] = {
    0, 1, 2, 3, 8, 9, 10, 11, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0, 1, 2, 3, 8, 9, 10, 11, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
// Lanes 0 and 2 into lanes 2 and 3, zeros below.
alignas(32) constexpr std::uint8_t kPairHigh[32] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0, 1, 2, 3, 8, 9, 10, 11,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0, 1, 2, 3, 8, 9, 10, 11};

KORVANTA_SSSE3 KORVANTA_ALWAYS_INLINE __m128i load_const128(const std::uint8_t* bytes) noexcept {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

KORVANTA_SSSE3 KORVANTA_ALWAYS_INLINE __m128i small_sigma0_x4(__m128i x) noexcept {
  // rotr 7 ^ rotr 18 ^ shr 3; x << 25 and x >> 18 come from the first shifts.
  const __m128i right7 = _mm_srli_epi32(x, 7);
  const __m128i left14 = _mm_slli_epi32(x, 14);
  __m128i sum = _mm_xor_si128(_mm_srli_epi32(x, 3), right7);
  sum = _mm_xor_si128(sum, left14);
  sum = _mm_xor_si128(sum, _mm_srli_epi32(right7, 11));
  return _mm_xor_si128(sum, _mm_slli_epi32(left14, 11));
}

// sigma1 of lanes 0 and 2 of doubled, where each of those words is copied
// into lanes 1 and 3 as well; the results are in lanes 0 and 2.
KORVANTA_SSSE3 KORVANTA_ALWAYS_INLINE __m128i small_sigma1_x2(__m128i doubled) noexcept {
  const __m128i rotr17 = _mm_srli_epi64(doubled, 17);
  const __m128i rotr19 = _mm_srli_epi64(doubled, 19);
  return _mm_xor_si128(_mm_xor_si128(rotr17, rotr19), _mm_srli_epi32(doubled, 10));
}

KORVANTA_SSSE3 KORVANTA_ALWAYS_INLINE __m128i next_words(__m128i x0, __m128i x1, __m128i x2, __m128i x3) noexcept {
  const __m128i w15 = _mm_alignr_epi8(x1, x0, 4);  // W[t-15..t-12]
  const __m128i w7 = _mm_alignr_epi8(x3, x2, 4);   // W[t-7..t-4]
  const __m128i partial = _mm_add_epi32(_mm_add_epi32(x0, w7), small_sigma0_x4(w15));
  // W[t-2], W[t-1] doubled: lanes 2 2 3 3 of x3.
  const __m128i low_sigma = small_sigma1_x2(_mm_shuffle_epi32(x3, 0xFA));
  const __m128i low = _mm_add_epi32(partial, _mm_shuffle_epi8(low_sigma, load_const128(kPairLow)));
  // W[t], W[t+1] doubled: lanes 0 0 1 1 of the words just made.
  const __m128i high_sigma = small_sigma1_x2(_mm_shuffle_epi32(low, 0x50));
  return _mm_add_epi32(low, _mm_shuffle_epi8(high_sigma, load_const128(kPairHigh)));
}

KORVANTA_SSSE3 KORVANTA_ALWAYS_INLINE __m128i load_words(const std::uint8_t* bytes) noexcept {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), load_const128(kByteSwap));
}

// wk[0..3] = words + K[t..t+3].
KORVANTA_SSSE3 KORVANTA_ALWAYS_INLINE void store_wk(std::uint32_t* wk, __m128i words, int t) noexcept {
  const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + t));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(wk), _mm_add_epi32(words, k));
}

// One block into the working variables a..h with the given round (the caller
// adds them to the state). wk is 64 words of scratch.
#define KORVANTA_ONE_BLOCK(round, block, wk)                   \
  do {                                                         \
    __m128i x0 = load_words(block);                            \
    __m128i x1 = load_words((block) + 16);                     \
    __m128i x2 = load_words((block) + 32);                     \
    __m128i x3 = load_words((block) + 48);                     \
    store_wk(wk, x0, 0);                                       \
    store_wk((wk) + 4, x1, 4);                                 \
    store_wk((wk) + 8, x2, 8);                                 \
    store_wk((wk) + 12, x3, 12);                               \
    for (int t = 16; t < 64; t += 16) {                        \
      x0 = next_words(x0, x1, x2, x3);                         \
      store_wk((wk) + t, x0, t);                               \
      KORVANTA_FOUR_A(round, (wk) + t - 16);                   \
      x1 = next_words(x1, x2, x3, x0);                         \
      store_wk((wk) + t + 4, x1, t + 4);                       \
      KORVANTA_FOUR_B(round, (wk) + t - 12);                   \
      x2 = next_words(x2, x3, x0, x1);                         \
      store_wk((wk) + t + 8, x2, t + 8);                       \
      KORVANTA_FOUR_A(round, (wk) + t - 8);                    \
      x3 = next_words(x3, x0, x1, x2);                         \
      store_wk((wk) + t + 12, x3, t + 12);                     \
      KORVANTA_FOUR_B(round, (wk) + t - 4);                    \
    }                                                          \
    KORVANTA_FOUR_A(round, (wk) + 48);                         \
    KORVANTA_FOUR_B(round, (wk) + 52);                         \
    KORVANTA_FOUR_A(round, (wk) + 56);                         \
    KORVANTA_FOUR_B(round, (wk) + 60);                         \
  } while (0)

#define KORVANTA_LOAD_STATE                                               \
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3]; \
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7]

#define KORVANTA_ADD_TO_STATE \
  a = state[0] += a;          \
  b = state[1] += b;          \
  c = state[2] += c;          \
  d = state[3] += d;          \
  e = state[4] += e;          \
  f = state[5] += f;          \
  g = state[6] += g;          \
  h = state[7] += h

// --- Two blocks at once (AVX2) -----------------------------------------------
//
// The same schedule on YMM registers: the low half carries the first block's
// words, the high half the second's (every instruction used works on each
// half by itself). The first block's rounds run alongside; the second
// block's rounds then only read their W + K from the table.

KORVANTA_AVX2 KORVANTA_ALWAYS_INLINE __m256i load_const256(const std::uint8_t* bytes) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

KORVANTA_AVX2 KORVANTA_ALWAYS_INLINE __m256i small_sigma0_x8(__m256i x) noexcept {
  const __m256i right7 = _mm256_srli_epi32(x, 7);
  const __m256i left14 = _mm256_slli_epi32(x, 14);
  __m256i sum = _mm256_xor_si256(_mm256_srli_epi32(x, 3), right7);
  sum = _mm256_xor_si256(sum, left14);
  sum = _mm256_xor_si256(sum, _mm256_srli_epi32(right7, 11));
  return _mm256_xor_si256(sum, _mm256_slli_epi32(left14, 11));
}

KORVANTA_AVX2 KORVANTA_ALWAYS_INLINE __m256i small_sigma1_x4(__m256i doubled) noexcept {
  const __m256i rotr17 = _mm256_srli_epi64(doubled, 17);
  const __m256i rotr19 = _mm256_srli_epi64(doubled, 19);
  return _mm256_xor_si256(_mm256_xor_si256(rotr17, rotr19), _mm256_srli_epi32(doubled, 10));
}

KORVANTA_AVX2 KORVANTA_ALWAYS_INLINE __m256i next_words2(__m256i x0, __m256i x1, __m256i x2, __m256i x3) noexcept {
  const __m256i w15 = _mm256_alignr_epi8(x1, x0, 4);
  const __m256i w7 = _mm256_alignr_epi8(x3, x2, 4);
  const __m256i partial = _mm256_add_epi32(_mm256_add_epi32(x0, w7), small_sigma0_x8(w15));
  const __m256i low_sigma = small_sigma1_x4(_mm256_shuffle_epi32(x3, 0xFA));
  const __m256i low = _mm256_add_epi32(partial, _mm256_shuffle_epi8(low_sigma, load_const256(kPairLow)));
  const __m256i high_sigma = small_sigma1_x4(_mm256_shuffle_epi32(low, 0x50));
  return _mm256_add_epi32(low, _mm256_shuffle_epi8(high_sigma, load_const256(kPairHigh)));
}

// Words 4i..4i+3 of the first block in the low half, of the second in the
// high half.
KORVANTA_AVX2 KORVANTA_ALWAYS_INLINE __m256i load_words2(const std::uint8_t* first, const std::uint8_t* second) noexcept {
  const __m256i both = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), 1);
  return _mm256_shuffle_epi8(both, load_const256(kByteSwap));
}

// wk[0..3] = first block's W[t..t+3] + K, wk[4..7] the second's.
KORVANTA_AVX2 KORVANTA_ALWAYS_INLINE void store_wk2(std::uint32_t* wk, __m256i words, int t) noexcept {
  const __m256i k = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + t)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(wk), _mm256_add_epi32(words, k));
}

}  // namespace

KORVANTA_SSSE3 void compress_simd_ssse3(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept {
  KORVANTA_LOAD_STATE;
  for (; count > 0; --count, blocks += 64) {
    std::uint32_t wk[64];
    KORVANTA_ONE_BLOCK(KORVANTA_ROUND_T1, blocks, wk);
    KORVANTA_ADD_TO_STATE;
  }
}

__attribute__((target("avx2,bmi,bmi2"))) void compress_simd_avx2(std::uint32_t* state, const std::uint8_t* blocks,
                                                            std::size_t count) noexcept {
  KORVANTA_LOAD_STATE;
  for (; count >= 2; count -= 2, blocks += 128) {
    // Group i (rounds 4i..4i+3) at wk[8i]: four words of the first block,
    // then four of the second.
    std::uint32_t wk[128];
    __m256i x0 = load_words2(blocks, blocks + 64);
    __m256i x1 = load_words2(blocks + 16, blocks + 80);
    __m256i x2 = load_words2(blocks + 32, blocks + 96);
    __m256i x3 = load_words2(blocks + 48, blocks + 112);
    store_wk2(wk, x0, 0);
    store_wk2(wk + 8, x1, 4);
    store_wk2(wk + 16, x2, 8);
    store_wk2(wk + 24, x3, 12);
    for (int t = 16; t < 64; t += 16) {
      x0 = next_words2(x0, x1, x2, x3);
      store_wk2(wk + 2 * t, x0, t);
      KORVANTA_FOUR_A(KORVANTA_ROUND_SHORT_CHAIN, wk + 2 * t - 32);
      x1 = next_words2(x1, x2, x3, x0);
      store_wk2(wk + 2 * t + 8, x1, t + 4);
      KORVANTA_FOUR_B(KORVANTA_ROUND_SHORT_CHAIN, wk + 2 * t - 24);
      x2 = next_words2(x2, x3, x0, x1);
      store_wk2(wk + 2 * t + 16, x2, t + 8);
      KORVANTA_FOUR_A(KORVANTA_ROUND_SHORT_CHAIN, wk + 2 * t - 16);
      x3 = next_words2(x3, x0, x1, x2);
      store_wk2(wk + 2 * t + 24, x3, t + 12);
      KORVANTA_FOUR_B(KORVANTA_ROUND_SHORT_CHAIN, wk + 2 * t - 8);
    }
    KORVANTA_FOUR_A(KORVANTA_ROUND_SHORT_CHAIN, wk + 96);
    KORVANTA_FOUR_B(KORVANTA_ROUND_SHORT_CHAIN, wk + 104);
    KORVANTA_FOUR_A(KORVANTA_ROUND_SHORT_CHAIN, wk + 112);
    KORVANTA_FOUR_B(KORVANTA_ROUND_SHORT_CHAIN, wk + 120);
    KORVANTA_ADD_TO_STATE;
    for (int i = 0; i < 16; i += 2) {
      KORVANTA_FOUR_A(KORVANTA_ROUND_SHORT_CHAIN, wk + 8 * i + 4);
      KORVANTA_FOUR_B(KORVANTA_ROUND_SHORT_CHAIN, wk + 8 * i + 12);
    }
    KORVANTA_ADD_TO_STATE;
  }
  if (count > 0) {
    std::uint32_t wk[64];
    KORVANTA_ONE_BLOCK(KORVANTA_ROUND_SHORT_CHAIN, blocks, wk);
    KORVANTA_ADD_TO_STATE;
  }
}

#undef KORVANTA_ADD_TO_STATE
#undef KORVANTA_LOAD_STATE
#undef KORVANTA_ONE_BLOCK
#undef KORVANTA_FOUR_B
#undef KORVANTA_FOUR_A
#undef KORVANTA_ROUND_SHORT_CHAIN
#undef KORVANTA_ROUND_T1
#undef KORVANTA_KEEP
#undef KORVANTA_ALWAYS_INLINE
#undef KORVANTA_AVX2
#undef KORVANTA_SSSE3

}  // namespace korvanta::sha256_detail

#else  // not x86

namespace korvanta::sha256_detail {

void compress_simd_ssse3(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept {
  compress_portable(state, blocks, count);
}
void compress_simd_avx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept {
  compress_portable(state, blocks, count);
}

}  // namespace korvanta::sha256_detail

#endif
