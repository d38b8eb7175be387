// SHA-256 blocks with the x86 SHA instructions (sha256_cpu.cpp says whether
// this processor has them). Only the functions below are compiled for those
// instructions (target attributes), so the rest of the program runs on any
// x86 processor and needs no special compiler flags; the 32-bit build
// included (the engine needs no more than the eight XMM registers there,
// spilling a few values on i686).
#include "manifest/sha256_engine.h"

#if defined(__i386__) || defined(__x86_64__)
#define KORVANTA_SHA256_X86 1
#include <immintrin.h>
#endif

namespace korvanta::sha256_detail {

#ifdef KORVANTA_SHA256_X86
namespace {

#define KORVANTA_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// The next four schedule words W[t..t+3] from the previous sixteen, held as
// W[t-16..t-13] in w0 up to W[t-4..t-1] in w3.
KORVANTA_SHA_TARGET inline __m128i next_words(__m128i w0, __m128i w1, __m128i w2, __m128i w3) noexcept {
  const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
  return _mm_sha256msg2_epu32(partial, w3);
}

// Four rounds on the state held as (a, b, e, f) and (c, d, g, h), the layout
// the instructions work on. Each SHA256RNDS2 makes two rounds; the previous
// (a, b, e, f) is then the new (c, d, g, h), so the two registers swap roles
// between the halves and are back in place after four rounds.
KORVANTA_SHA_TARGET inline void four_rounds(__m128i& abef, __m128i& cdgh, __m128i words, int group) noexcept {
  const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group));
  const __m128i wk = _mm_add_epi32(words, k);
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

}  // namespace

KORVANTA_SHA_TARGET void compress_sha_extensions(std::uint32_t* state, const std::uint8_t* blocks,
                                                 std::size_t count) noexcept {
  // Byte order: message words are big-endian.
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

  // state[0..3] = a b c d and state[4..7] = e f g h, lowest lane first, into
  // (f e b a) and (h g d c), lowest lane first.
  const __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  const __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i badc = _mm_shuffle_epi32(abcd, 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(efgh, 0x1B);
  __m128i abef = _mm_alignr_epi8(badc, hgfe, 8);
  __m128i cdgh = _mm_blend_epi16(hgfe, badc, 0xF0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abef_before = abef;
    const __m128i cdgh_before = cdgh;
    const auto* in = reinterpret_cast<const __m128i*>(blocks);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
    four_rounds(abef, cdgh, w0, 0);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    four_rounds(abef, cdgh, w1, 1);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    four_rounds(abef, cdgh, w2, 2);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);
    four_rounds(abef, cdgh, w3, 3);
    for (int group = 4; group < 16; group += 4) {
      w0 = next_words(w0, w1, w2, w3);
      four_rounds(abef, cdgh, w0, group);
      w1 = next_words(w1, w2, w3, w0);
      four_rounds(abef, cdgh, w1, group + 1);
      w2 = next_words(w2, w3, w0, w1);
      four_rounds(abef, cdgh, w2, group + 2);
      w3 = next_words(w3, w0, w1, w2);
      four_rounds(abef, cdgh, w3, group + 3);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  // Back to a b c d and e f g h.
  const __m128i abef_swapped = _mm_shuffle_epi32(abef, 0x1B);  // a b e f
  const __m128i cdgh_swapped = _mm_shuffle_epi32(cdgh, 0xB1);  // g h c d
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(abef_swapped, cdgh_swapped, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(cdgh_swapped, abef_swapped, 8));
}

#undef KORVANTA_SHA_TARGET

#else  // not x86

void compress_sha_extensions(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept {
  compress_portable(state, blocks, count);
}

#endif

}  // namespace korvanta::sha256_detail
