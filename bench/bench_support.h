#pragma once
// Timing and reporting shared by the benchmark programs. Every program prints
// a table for people and, for scripts/bench, one line per figure:
//   RESULT <key> <value>
// with times in seconds and throughputs in MiB/s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace korvanta::bench {

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time (user and system) of this process so far. Less disturbed by
// a busy machine than the wall clock: time spent waiting for a processor
// does not count. (Under Wine it advances in steps of 10 ms.)
inline double cpu_seconds() {
#ifndef _WIN32
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
#else
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
  const auto seconds = [](const FILETIME& time) {
    return ((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
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

// The least processor time of repeated runs of a single-threaded work.
template <typename Work>
double best_cpu_time(int repetitions, Work&& work) {
  double best = 1e300;
  for (int i = 0; i < repetitions; ++i) {
    const double start = cpu_seconds();
    work();
    best = std::min(best, cpu_seconds() - start);
  }
  return best;
}

inline void print_result(const std::string& key, double value) {
  std::printf("RESULT %s %.6f\n", key.c_str(), value);
  std::fflush(stdout);
}

constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace korvanta::bench
