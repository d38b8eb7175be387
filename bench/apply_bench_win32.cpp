// The apply benchmark as a Windows console program, for Wine: reads the
// workload that the native apply_bench generated (give its directory as a
// Windows path, e.g. Z:\...\bench-data\update).
//
//   apply_bench_win32 <dir> [repetitions]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apply_workload.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: apply_bench_win32 <dir> [repetitions]\n");
    return 2;
  }
  return korvanta::bench::run_apply_benchmark(argv[1], argc > 2 ? std::atoi(argv[2]) : 3, "wine_");
}
