#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace korvanta::platform {

void wait_for_process_exit(std::uint32_t pid) {
  // No handle to wait on here: poll until the id is gone.
  const auto id = static_cast<pid_t>(pid);
  if (id <= 0) return;
  while (kill(id, 0) == 0 || errno == EPERM) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

bool start_process(const std::wstring&, const std::wstring&) {
  // A Windows command line has no meaning on the host; the native tests
  // reach the restart through the run's seam instead.
  return false;
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(getpid()); }

void sleep_milliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace korvanta::platform
