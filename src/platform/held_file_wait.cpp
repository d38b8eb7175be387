#include "platform/held_file_wait.h"

#include "platform/process.h"

namespace korvanta::platform {
namespace {

class Sleeping final : public HeldFileWait {
 public:
  void pause(std::uint32_t ms, std::uint64_t) override { sleep_milliseconds(ms); }
};

Sleeping sleeping;
// Per thread: a wait put in by one thread's apply or test never pauses
// another thread's file operations.
thread_local HeldFileWait* current = nullptr;

}  // namespace

ScopedHeldFileWait::ScopedHeldFileWait(HeldFileWait& wait) noexcept : previous_(held_file_wait()) { current = &wait; }

ScopedHeldFileWait::~ScopedHeldFileWait() { current = &previous_; }

HeldFileWait& held_file_wait() noexcept { return current != nullptr ? *current : sleeping; }

}  // namespace korvanta::platform
