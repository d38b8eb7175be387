#pragma once
// How a file operation waits while another program holds its file (an
// antivirus scanner, an indexer, a backup tool): between its tries it pauses
// through the wait in force on its thread. By default that sleeps; the apply
// puts in one that also tells the window, and tests put in one that counts
// the pauses without sleeping, so a 5-second bound is checked in
// milliseconds.
#include <cstdint>

namespace korvanta::platform {

class HeldFileWait {
 public:
  virtual ~HeldFileWait() = default;
  // Pauses for ms before the operation tries again; waited_ms is how long it
  // has been waiting before this pause.
  virtual void pause(std::uint32_t ms, std::uint64_t waited_ms) = 0;
  // The operation that paused has its answer: it worked, failed otherwise,
  // or gave up.
  virtual void ended() {}
};

// Makes wait the one this thread's file operations pause through, until the
// scope ends and the one before it is in force again. Scopes nest; a wait
// may pass its pauses on to previous().
class ScopedHeldFileWait {
 public:
  explicit ScopedHeldFileWait(HeldFileWait& wait) noexcept;
  ScopedHeldFileWait(const ScopedHeldFileWait&) = delete;
  ScopedHeldFileWait& operator=(const ScopedHeldFileWait&) = delete;
  ~ScopedHeldFileWait();
  HeldFileWait& previous() const noexcept { return previous_; }

 private:
  HeldFileWait& previous_;
};

// The wait in force on this thread: the innermost scope's, else one that
// sleeps.
HeldFileWait& held_file_wait() noexcept;

}  // namespace korvanta::platform
