// sha256_file_hex of a large file as a Windows console program, for Wine.
// The references (openssl dgst, sha256sum) are measured natively in the same
// run by file_hash_bench.
//
//   file_hash_bench_win32 <file> [repetitions]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "manifest/sha256.h"
#include "manifest/sha256_engine.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  using namespace korvanta;
  if (argc < 2) {
    std::fprintf(stderr, "usage: file_hash_bench_win32 <file> [repetitions]\n");
    return 2;
  }
  const std::wstring path = platform::utf8_to_wide(argv[1]);
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  const double mib = static_cast<double>(std::filesystem::file_size(path)) / bench::kMiB;
  std::error_code error;
  std::string digest = sha256_file_hex(path, error);
  const double seconds = bench::best_time(repetitions, [&] { digest = sha256_file_hex(path, error); });
  std::printf("File hashing under Wine (%s engine), %.0f MiB, best of %d\n",
              sha256_detail::engine_name(sha256_detail::active_engine()), mib, repetitions);
  std::printf("  %-40s %10.3f s %10.1f MiB/s\n", "sha256_file_hex", seconds, mib / seconds);
  std::printf("  digest %s\n", digest.c_str());
  bench::print_result("wine_file_hash_in_process", mib / seconds);
  return 0;
}
