// Sha256::update on 128 KiB blocks as a Windows console program, for Wine:
// the same measurement as sha256_bench (processor time) without its
// reference, which scripts/bench takes natively, taking turns with this
// program. Figures are reported as "wine_<key>" from the x86_64 build and
// "wine32_<key>" from the i686 one.
//
//   sha256_bench_win32 [--engine sha|avx2|ssse3|portable|simd] [--mib N] [--repetitions N]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "manifest/sha256.h"
#include "manifest/sha256_engine.h"
#include "sha256_bench_options.h"

namespace {

std::string hash_blocks(const std::vector<std::uint8_t>& buffer, std::size_t blocks) {
  korvanta::Sha256 hasher;
  for (std::size_t i = 0; i < blocks; ++i) hasher.update(buffer.data(), buffer.size());
  return hasher.final_hex();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korvanta;
  const auto options = bench::parse_sha256_bench_options(argc, argv);
  if (!options) return 2;
  std::vector<std::uint8_t> buffer(131072);
  std::mt19937 random(7);
  for (auto& byte : buffer) byte = static_cast<std::uint8_t>(random());
  const std::size_t blocks = static_cast<std::size_t>(options->mib) * 8;

  hash_blocks(buffer, blocks / 8);  // warm-up
  double seconds = 1e300;
  const double wall = bench::best_time(options->repetitions, [&] {
    seconds = std::min(seconds, bench::best_cpu_time(1, [&] { hash_blocks(buffer, blocks); }));
  });
  const double mib_s = options->mib / seconds;
  const char* build = sizeof(void*) == 4 ? "i686" : "x86_64";
  const std::string key = std::string(sizeof(void*) == 4 ? "wine32_" : "wine_") + options->key;
  std::printf("SHA-256 under Wine (%s build), %d MiB as 128 KiB updates, best of %d\n", build, options->mib,
              options->repetitions);
  std::printf("  %-44s %10.1f MiB/s (wall: %.1f)\n",
              (std::string("Sha256::update (") + sha256_detail::engine_name(options->engine) + ")").c_str(), mib_s,
              options->mib / wall);
  bench::print_name(key, sha256_detail::engine_name(options->engine));
  bench::print_result(key, mib_s);
  return 0;
}
