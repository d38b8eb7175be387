// apply_update on a generated update against the least work an updater must
// do (hash each staged file, rename it into place).
//
//   apply_bench generate <dir> [files MiB]  write the workload (2,000 files
//                                           and 1 GiB unless given)
//   apply_bench run <dir> [repetitions]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apply_workload.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "generate") {
    korvanta::bench::WorkloadShape shape;
    if (argc > 4) {
      // Half of the files replace installed ones, half are new; a tenth as
      // many installed files are deleted.
      const int files = std::atoi(argv[3]);
      shape = {files / 2, files - files / 2, files / 10, std::strtoull(argv[4], nullptr, 10) << 20};
    }
    korvanta::bench::generate_workload(argv[2], shape);
    return 0;
  }
  if (mode == "run") return korvanta::bench::run_apply_benchmark(argv[2], argc > 3 ? std::atoi(argv[3]) : 3, "");
  std::fprintf(stderr, "usage: apply_bench generate <dir> [files MiB] | run <dir> [repetitions]\n");
  return 2;
}
