// Sha256::update on 128 KiB blocks against OpenSSL's SHA-256 in the same
// process, the reference taking turns with ours, timed by processor time.
// OpenSSL serves only as the yardstick here.
//
//   sha256_bench [--engine sha|avx2|ssse3|portable|simd] [--mib N] [--repetitions N]
//
// (options: sha256_bench_options.h). For any engine but sha, compare like
// with like by running it with OpenSSL's SHA-extension code masked off as
// well: OPENSSL_ia32cap=":~0x20000000" (leaf 7 EBX bit 29).
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "sha256_bench_options.h"
#include "manifest/sha256.h"
#include "manifest/sha256_engine.h"

namespace {

using namespace korvanta;
using sha256_detail::Engine;

constexpr std::size_t kBlock = 131072;

std::string to_hex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

std::string ours(const std::vector<std::uint8_t>& buffer, std::size_t blocks) {
  Sha256 hasher;
  for (std::size_t i = 0; i < blocks; ++i) hasher.update(buffer.data(), buffer.size());
  return hasher.final_hex();
}

std::string openssl(const std::vector<std::uint8_t>& buffer, std::size_t blocks) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  for (std::size_t i = 0; i < blocks; ++i) EVP_DigestUpdate(context, buffer.data(), buffer.size());
  unsigned char digest[32];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  EVP_MD_CTX_free(context);
  return to_hex(digest, length);
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = bench::parse_sha256_bench_options(argc, argv);
  if (!options) return 2;
  const Engine engine = options->engine;
  const int mib = options->mib;
  const int repetitions = options->repetitions;

  std::vector<std::uint8_t> buffer(kBlock);
  std::mt19937 random(7);
  for (auto& byte : buffer) byte = static_cast<std::uint8_t>(random());
  const std::size_t blocks = static_cast<std::size_t>(mib) * 8;

  if (ours(buffer, 9) != openssl(buffer, 9)) {
    std::fprintf(stderr, "digests differ\n");
    return 1;
  }
  // Warm both up (page faults, frequency), then take turns.
  ours(buffer, blocks / 8);
  openssl(buffer, blocks / 8);
  // Processor time decides (the machine may be shared); the wall clock is
  // shown beside it.
  double best_ours = 1e300, best_reference = 1e300, wall_ours = 1e300, wall_reference = 1e300;
  for (int i = 0; i < repetitions; ++i) {
    wall_ours = std::min(wall_ours, bench::best_time(1, [&] {
      best_ours = std::min(best_ours, bench::best_cpu_time(1, [&] { ours(buffer, blocks); }));
    }));
    wall_reference = std::min(wall_reference, bench::best_time(1, [&] {
      best_reference = std::min(best_reference, bench::best_cpu_time(1, [&] { openssl(buffer, blocks); }));
    }));
  }
  const double ours_mib_s = mib / best_ours;
  const double reference_mib_s = mib / best_reference;
  const char* mask = std::getenv("OPENSSL_ia32cap");
  const std::string& key = options->key;

  std::printf("SHA-256, %d MiB as 128 KiB updates, best of %d\n", mib, repetitions);
  std::printf("  %-44s %10s %10s\n", "", "MiB/s", "wall");
  std::printf("  %-44s %10.1f %10.1f\n",
              (std::string("Sha256::update (") + sha256_detail::engine_name(engine) + ")").c_str(), ours_mib_s,
              mib / wall_ours);
  std::printf("  %-44s %10.1f %10.1f\n",
              (std::string("OpenSSL ") + (mask ? std::string("OPENSSL_ia32cap=") + mask : "(all extensions)")).c_str(),
              reference_mib_s, mib / wall_reference);
  std::printf("  %-44s %10.3f %10.3f\n", "ratio", ours_mib_s / reference_mib_s, wall_reference / wall_ours);
  std::printf("  (MiB per second of processor time; wall: per second of wall-clock time)\n");
  bench::print_name(key, sha256_detail::engine_name(engine));
  bench::print_result(key, ours_mib_s);
  bench::print_result(key + "_openssl", reference_mib_s);
  return 0;
}
