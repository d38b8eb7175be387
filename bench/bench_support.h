#pragma once
// Timing and reporting shared by the benchmark programs. Every program prints
// a table for people and, for scripts/bench, one line per figure:
//   RESULT <key> <value>
// with times in seconds and throughputs in MiB/s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace korvanta::bench {

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time (user and system) of this process so far; 0 where not
// measured. Less disturbed by a busy machine than the wall clock.
inline double cpu_seconds() {
#ifndef _WIN32
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
#else
  return 0;
#endif
}

// The fastest of repeated runs: on a shared machine the slow runs measure the
// neighbours, not the code.
template <typename Work>
double best_time(int repetitions, Work&& work) {
  double best = 1e300;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, seconds_since(start));
  }
  return best;
}

inline void print_result(const std::string& key, double value) {
  std::printf("RESULT %s %.6f\n", key.c_str(), value);
  std::fflush(stdout);
}

constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace korvanta::bench
