// sha256_file_hex of a large file that lies in the page cache, against
// `openssl dgst -sha256` and `sha256sum` on the same file, and the peak
// resident memory of hashing a large and a small file.
//
//   file_hash_bench run <large file> <small file> [repetitions]
//   file_hash_bench hash <file>   one digest, as the timed child process
//   file_hash_bench rss <file>    one digest, then the peak resident set (KiB)
#include <sys/resource.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "manifest/sha256.h"
#include "platform/text.h"

namespace {

using namespace korvanta;

std::string run_command(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), got);
  ::pclose(pipe);
  return output;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// The first run of 64 hex digits in a tool's output.
std::string digest_in(const std::string& output) {
  for (std::size_t i = 0; i + 64 <= output.size(); ++i) {
    if (output.find_first_not_of("0123456789abcdef", i) >= i + 64) return output.substr(i, 64);
  }
  return "(none)";
}

long peak_rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int run(const std::string& large, const std::string& small, int repetitions) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const double mib = static_cast<double>(std::filesystem::file_size(large)) / bench::kMiB;
  const std::wstring wide = platform::utf8_to_wide(large);

  std::error_code error;
  std::string digest = sha256_file_hex(wide, error);  // also brings the file into the page cache
  const std::string by_openssl = digest_in(run_command("openssl dgst -sha256 -r " + quoted(large)));
  const std::string by_coreutils = digest_in(run_command("sha256sum " + quoted(large)));
  if (digest != by_openssl || digest != by_coreutils) {
    std::fprintf(stderr, "digests differ: %s %s %s\n", digest.c_str(), by_openssl.c_str(), by_coreutils.c_str());
    return 1;
  }

  // Taking turns, so that a slower stretch of the machine hits all of them.
  double in_process = 1e300, as_process = 1e300, openssl = 1e300, coreutils = 1e300;
  for (int i = 0; i < repetitions; ++i) {
    in_process = std::min(in_process, bench::best_time(1, [&] { digest = sha256_file_hex(wide, error); }));
    as_process = std::min(as_process, bench::best_time(1, [&] { run_command(quoted(self) + " hash " + quoted(large)); }));
    openssl = std::min(openssl, bench::best_time(1, [&] { run_command("openssl dgst -sha256 " + quoted(large)); }));
    coreutils = std::min(coreutils, bench::best_time(1, [&] { run_command("sha256sum " + quoted(large)); }));
  }

  const long rss_large = std::atol(run_command(quoted(self) + " rss " + quoted(large)).c_str());
  const long rss_small = std::atol(run_command(quoted(self) + " rss " + quoted(small)).c_str());

  std::printf("File hashing, %.0f MiB in the page cache, best of %d\n", mib, repetitions);
  std::printf("  %-40s %10s %10s %8s\n", "", "seconds", "MiB/s", "ratio");
  auto row = [&](const char* name, double seconds) {
    std::printf("  %-40s %10.3f %10.1f %8.3f\n", name, seconds, mib / seconds, openssl / seconds);
  };
  row("sha256_file_hex (in process)", in_process);
  row("sha256_file_hex (process of its own)", as_process);
  row("openssl dgst -sha256", openssl);
  row("sha256sum", coreutils);
  std::printf("  ratio: openssl dgst's time over ours (process against process)\n");
  std::printf("Peak resident memory while hashing\n");
  std::printf("  %-40s %10ld KiB\n", "large file", rss_large);
  std::printf("  %-40s %10ld KiB\n", "small file", rss_small);
  std::printf("  %-40s %10ld KiB\n", "difference", rss_large - rss_small);

  bench::print_result("file_hash_in_process", mib / in_process);
  bench::print_result("file_hash_process", mib / as_process);
  bench::print_result("file_hash_openssl", mib / openssl);
  bench::print_result("file_hash_sha256sum", mib / coreutils);
  bench::print_result("rss_large_kib", rss_large);
  bench::print_result("rss_small_kib", rss_small);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  std::error_code error;
  if (mode == "hash" && argc == 3) {
    std::printf("%s\n", sha256_file_hex(platform::utf8_to_wide(argv[2]), error).c_str());
    return 0;
  }
  if (mode == "rss" && argc == 3) {
    sha256_file_hex(platform::utf8_to_wide(argv[2]), error);
    std::printf("%ld\n", peak_rss_kib());
    return 0;
  }
  if (mode == "run" && argc >= 4) return run(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 5);
  std::fprintf(stderr, "usage: file_hash_bench run <large> <small> [repetitions] | hash <file> | rss <file>\n");
  return 2;
}
