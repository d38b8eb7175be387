// The SHA-256 compression function in plain C++ (FIPS 180-4, 6.2.2), for
// processors without SHA instructions. The 64 rounds are written out so that
// the eight working variables never move between registers: each round
// renames them instead. The message schedule lives in a rolling window of 16
// words, extended in place as the rounds consume it.
#include <bit>
#include <cstring>

#include "manifest/sha256_engine.h"

namespace korvanta::sha256_detail {
namespace {

inline std::uint32_t load_be32(const std::uint8_t* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v;
}

inline std::uint32_t big_sigma0(std::uint32_t x) noexcept {
  return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
inline std::uint32_t big_sigma1(std::uint32_t x) noexcept {
  return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
inline std::uint32_t small_sigma0(std::uint32_t x) noexcept {
  return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
}
inline std::uint32_t small_sigma1(std::uint32_t x) noexcept {
  return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}
// Ch and Maj in forms with fewer operations than the textbook ones. In Maj,
// a ^ b of one round is b ^ c of the next, which the compiler keeps.
inline std::uint32_t choose(std::uint32_t e, std::uint32_t f, std::uint32_t g) noexcept { return g ^ (e & (f ^ g)); }
inline std::uint32_t majority(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept {
  return ((a ^ b) & (b ^ c)) ^ b;
}

}  // namespace

// One round: d and h are the only variables it writes; the caller rotates
// the names for the next round.
#define KORVANTA_SHA256_ROUND(a, b, c, d, e, f, g, h, k, w) \
  do {                                                      \
    h += big_sigma1(e) + choose(e, f, g) + (k) + (w);       \
    d += h;                                                 \
    h += big_sigma0(a) + majority(a, b, c);                 \
  } while (0)

// Round t of a group of 16, where the window holds W[t] at w[t % 16]. From
// round 16 on, that word is first replaced by W[t] from the four words the
// schedule needs, all still in the window.
#define KORVANTA_SHA256_SCHEDULE(j) \
  (w[j] += small_sigma1(w[((j) + 14) & 15]) + w[((j) + 9) & 15] + small_sigma0(w[((j) + 1) & 15]))

#define KORVANTA_SHA256_SIXTEEN(K, W)                   \
  KORVANTA_SHA256_ROUND(a, b, c, d, e, f, g, h, K[0], W(0));   \
  KORVANTA_SHA256_ROUND(h, a, b, c, d, e, f, g, K[1], W(1));   \
  KORVANTA_SHA256_ROUND(g, h, a, b, c, d, e, f, K[2], W(2));   \
  KORVANTA_SHA256_ROUND(f, g, h, a, b, c, d, e, K[3], W(3));   \
  KORVANTA_SHA256_ROUND(e, f, g, h, a, b, c, d, K[4], W(4));   \
  KORVANTA_SHA256_ROUND(d, e, f, g, h, a, b, c, K[5], W(5));   \
  KORVANTA_SHA256_ROUND(c, d, e, f, g, h, a, b, K[6], W(6));   \
  KORVANTA_SHA256_ROUND(b, c, d, e, f, g, h, a, K[7], W(7));   \
  KORVANTA_SHA256_ROUND(a, b, c, d, e, f, g, h, K[8], W(8));   \
  KORVANTA_SHA256_ROUND(h, a, b, c, d, e, f, g, K[9], W(9));   \
  KORVANTA_SHA256_ROUND(g, h, a, b, c, d, e, f, K[10], W(10)); \
  KORVANTA_SHA256_ROUND(f, g, h, a, b, c, d, e, K[11], W(11)); \
  KORVANTA_SHA256_ROUND(e, f, g, h, a, b, c, d, K[12], W(12)); \
  KORVANTA_SHA256_ROUND(d, e, f, g, h, a, b, c, K[13], W(13)); \
  KORVANTA_SHA256_ROUND(c, d, e, f, g, h, a, b, K[14], W(14)); \
  KORVANTA_SHA256_ROUND(b, c, d, e, f, g, h, a, K[15], W(15))

#define KORVANTA_SHA256_LOADED(j) w[j]

void compress_portable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (; count > 0; --count, blocks += 64) {
    std::uint32_t w[16];
    for (int j = 0; j < 16; ++j) w[j] = load_be32(blocks + 4 * j);
    KORVANTA_SHA256_SIXTEEN(kRoundConstants, KORVANTA_SHA256_LOADED);
    KORVANTA_SHA256_SIXTEEN((kRoundConstants + 16), KORVANTA_SHA256_SCHEDULE);
    KORVANTA_SHA256_SIXTEEN((kRoundConstants + 32), KORVANTA_SHA256_SCHEDULE);
    KORVANTA_SHA256_SIXTEEN((kRoundConstants + 48), KORVANTA_SHA256_SCHEDULE);
    a = state[0] += a;
    b = state[1] += b;
    c = state[2] += c;
    d = state[3] += d;
    e = state[4] += e;
    f = state[5] += f;
    g = state[6] += g;
    h = state[7] += h;
  }
}

#undef KORVANTA_SHA256_LOADED
#undef KORVANTA_SHA256_SIXTEEN
#undef KORVANTA_SHA256_SCHEDULE
#undef KORVANTA_SHA256_ROUND

}  // namespace korvanta::sha256_detail
