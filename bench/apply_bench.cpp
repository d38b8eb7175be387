// apply_update on a generated update against the least work an updater must
// do (hash each staged file, rename it into place).
//
//   apply_bench generate <dir>          write the workload (about 1 GiB)
//   apply_bench run <dir> [repetitions]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apply_workload.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "generate") {
    korvanta::bench::generate_workload(argv[2], {});
    return 0;
  }
  if (mode == "run") return korvanta::bench::run_apply_benchmark(argv[2], argc > 3 ? std::atoi(argv[3]) : 3, "");
  std::fprintf(stderr, "usage: apply_bench generate <dir> | run <dir> [repetitions]\n");
  return 2;
}
