// apply_update as a native program, the stand-in for the exe in native runs
// of update_bench: the same engine, without the log, the window and Wine.
//
//   apply_cli --state <update-state.json>      exit 0 applied, 3 failed (reason on stderr)
#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "update/apply.h"

int main(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], "--state") != 0) {
    std::fprintf(stderr, "usage: apply_cli --state <update-state.json>\n");
    return 2;
  }
  const auto failure = korvanta::apply_update(korvanta::platform::utf8_to_wide(argv[2]));
  if (!failure) return 0;
  std::fprintf(stderr, "%s at %s %s\n", failure->reason_text().c_str(), failure->place.c_str(), failure->path.c_str());
  return 3;
}
