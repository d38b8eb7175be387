#include "manifest/sha256.h"

#include <gtest/gtest.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <iostream>
#include <random>
#include <stdexcept>

#include "manifest/sha256_engine.h"
#include "support/test_support.h"

namespace korvanta {

using sha256_detail::Engine;

// Bytes without a short period: a block hashed twice or out of order changes the digest.
static std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::uint32_t x = 0x2545F491u; char& b : bytes) b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
  return bytes;
}

// FIPS 180-4 examples, and digests made with sha256sum of patterns around the
// padding, block and file-buffer boundaries.
const std::pair<std::string, std::string> kKnown[] = {
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {pattern(0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {pattern(55), "7d861123fef899929873d7000dd4d8fd7af7aca2ca99d147219ed9fe9985cbeb"},
    {pattern(56), "e31233e84be52af4da6498e7c704ee09baef77418dc5dd50f1cfa0f51bd96ead"},
    {pattern(63), "cdfb461406a5881cb45ab16fd78d466ab4f062984771ce02e4bbbd3baa9d8d27"},
    {pattern(64), "d47c69b90cc8884d2d4ae3b42d4b7273ba061db93592c9b177f653f844401a38"},
    {pattern(65), "a7ef2b470d3446d75c27517488c3fc2fbe59bced57cb06ed8cd52ca5a96f7941"},
    {pattern(131072), "dbccb1dbc6170558bc52bd556df3767eb3b1d0d230ae9aa593a1dfa253a000aa"},
    {pattern(3 * 1048576 + 17), "74a69bf614359e8aa2148a3fe33ceacb6e922ab3d3b30d7bb3900aa4600e34ac"},
};

// Each engine this processor has (by its own reading of CPUID) on
// the known messages in one call, in random pieces (which the block functions
// then read from misaligned addresses; the empty ones from a null pointer)
// and from a file.
TEST(Sha256, EachEngineOfTheProcessorGivesTheKnownDigestsHoweverTheBytesAreFed) {
  bool sha = false, ssse3 = false;  // SHA: leaf 7, EBX bit 29; SSE4.1, SSSE3: leaf 1, ECX bits 19, 9
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  ssse3 = __get_cpuid(1, &a, &b, &c, &d) && (c >> 9 & 1);
  sha = ssse3 && (c >> 19 & 1) && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b >> 29 & 1);
#endif
  const Engine chosen = sha256_detail::active_engine();
  EXPECT_EQ(chosen == Engine::sha_extensions, sha);
  testing::TempDir dir;
  std::mt19937 random(20261206);
  for (const Engine engine : {Engine::portable, Engine::sha_extensions, Engine::simd_ssse3, Engine::simd_avx2}) {
    const bool runs = sha256_detail::use_engine(engine);
    std::cout << "[ engine   ] " << sha256_detail::engine_name(engine) << (runs ? "\n" : ": not on this processor\n");
    if (engine != Engine::simd_avx2) {  // AVX2 needs the system's support too: shown, not predicted
      EXPECT_EQ(runs, engine == Engine::portable || (engine == Engine::sha_extensions ? sha : ssse3));
    }
    for (const auto& [message, digest] : kKnown) {
      if (!runs) break;
      Sha256 pieces;
      for (std::size_t at = 0, size = 0; at < message.size(); at += size) {
        size = std::min<std::size_t>(random() % (random() % 8 ? 130 : 20000), message.size() - at);
        pieces.update(size ? message.data() + at : nullptr, size);
      }
      testing::write_file(dir / L"file", message);
      std::error_code error;
      EXPECT_EQ(testing::sha256_of(message) + " " + pieces.final_hex() + " " + sha256_file_hex(dir / L"file", error),
                digest + " " + digest + " " + digest)
          << sha256_detail::engine_name(engine) << ", " << message.size() << " bytes: one call, pieces, file";
    }
  }
  sha256_detail::use_engine(chosen);
  std::error_code error;
  EXPECT_EQ(sha256_file_hex(dir / L"missing", error), "");
  EXPECT_TRUE(error);
}

}  // namespace korvanta
