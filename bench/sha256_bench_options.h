#pragma once
// The options of the two Sha256::update benchmarks (sha256_bench natively,
// sha256_bench_win32 under Wine):
//
//   --engine sha|avx2|ssse3|portable|simd   the engine to force (default: the
//                                           processor's best); simd is the
//                                           best one without SHA instructions
//   --mib N            MiB hashed per repetition (default 512)
//   --repetitions N    default 7
//
// Each figure is reported under "<prefix><key>", the key naming the option
// the engine was chosen by (sha256_sha_ext, sha256_avx2, sha256_ssse3,
// sha256_portable, sha256_simd), so a script can ask for "simd" and find the
// figure whatever the processor offers; the engine's own name is reported
// beside it as "NAME <key> <engine name>".
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "manifest/sha256_engine.h"

namespace korvanta::bench {

struct Sha256BenchOptions {
  sha256_detail::Engine engine = sha256_detail::best_engine();
  std::string key = "sha256_best";
  int mib = 512;
  int repetitions = 7;
};

inline sha256_detail::Engine best_engine_without_sha() {
  using sha256_detail::Engine;
  for (const Engine engine : {Engine::simd_avx2, Engine::simd_ssse3}) {
    if (sha256_detail::engine_supported(engine)) return engine;
  }
  return Engine::portable;
}

// Parses argv; prints the problem and returns nothing on a bad option.
inline std::optional<Sha256BenchOptions> parse_sha256_bench_options(int argc, char** argv) {
  using sha256_detail::Engine;
  struct Named {
    const char* option;
    Engine engine;
    const char* key;
  };
  static constexpr Named kEngines[] = {
      {"sha", Engine::sha_extensions, "sha256_sha_ext"}, {"avx2", Engine::simd_avx2, "sha256_avx2"},
      {"ssse3", Engine::simd_ssse3, "sha256_ssse3"},     {"portable", Engine::portable, "sha256_portable"},
  };
  Sha256BenchOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--engine") {
      bool known = false;
      for (const auto& named : kEngines) {
        if (value == named.option) {
          options.engine = named.engine;
          options.key = named.key;
          known = true;
        }
      }
      if (value == "simd") {
        options.engine = best_engine_without_sha();
        options.key = "sha256_simd";
        known = true;
      }
      if (!known) {
        std::fprintf(stderr, "unknown engine %s\n", value.c_str());
        return std::nullopt;
      }
    } else if (option == "--mib") {
      options.mib = std::atoi(value.c_str());
    } else if (option == "--repetitions") {
      options.repetitions = std::atoi(value.c_str());
    } else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return std::nullopt;
    }
  }
  if (!sha256_detail::use_engine(options.engine)) {
    std::fprintf(stderr, "this processor cannot run the %s engine\n", sha256_detail::engine_name(options.engine));
    return std::nullopt;
  }
  return options;
}

inline void print_name(const std::string& key, const char* name) {
  std::printf("NAME %s %s\n", key.c_str(), name);
  std::fflush(stdout);
}

}  // namespace korvanta::bench
