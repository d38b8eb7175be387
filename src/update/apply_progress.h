#pragma once
// What the apply engine tells about its progress while it works, so that the
// window can show the entry at work, the bytes done and a bar; and the
// engine's own bookkeeping of it.
#include <cstdint>
#include <optional>
#include <string_view>

#include "manifest/sha256.h"
#include "platform/held_file_wait.h"

namespace korvanta {

struct UpdatePlan;

// Where the apply is. The entries are the deletions, then the replacements,
// in the plan's order; the bytes are the replacements' announced sizes,
// which their checks read (a deletion's file is not counted: it goes into
// the backup by a rename whatever its size, and sizing it would cost a call
// per deletion before the first change).
struct ApplyPosition {
  std::uint64_t entries = 0;
  std::uint64_t entries_done = 0;
  std::uint64_t bytes = 0;       // added up, saturating at the largest value
  std::uint64_t bytes_done = 0;  // of the finished entries, and what the current one's check has read
  // The current entry's relative path in its normal form ("/" separators);
  // empty before the first entry and once the last is done.
  std::string_view path;
  // Whether a file operation is waiting for a file another program holds,
  // and how long it had waited as its latest pause began (0 at the first).
  bool held = false;
  std::uint64_t held_ms = 0;
};

// Hears the position each time it changes: once the plan is read and before
// the first change, as each entry begins, as a staged file's check reads it,
// at each pause of a wait for a held file and when the wait ends, and once
// every entry is done. Called on the thread that runs the apply, often (for
// every 128 KiB read): it must be quick, and must not throw, since progress
// never stops an update.
class ApplyProgress {
 public:
  virtual ~ApplyProgress() = default;
  virtual void update(const ApplyPosition& at) noexcept = 0;
};

// The engine's side: keeps the position and tells the observer, if there is
// one, of each change. While it lives with an observer it is the thread's
// held-file wait, passing every pause on to the wait that was in force.
class ProgressMeter final : public platform::HeldFileWait {
 public:
  explicit ProgressMeter(ApplyProgress* observer);
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  void plan(const UpdatePlan& plan);
  // Ends the entry before, if any, and begins this one; size is what its
  // check will read (0 for a deletion).
  void enter(std::string_view path, std::uint64_t size);
  // Ends the last entry.
  void finish();
  // For the current entry's hashes; empty without an observer, so that a
  // run without a window pays nothing per read.
  const HashProgress& hashed() const noexcept { return hashed_; }

 private:
  void pause(std::uint32_t ms, std::uint64_t waited_ms) override;
  void ended() override;
  void end_entry();
  void tell() const noexcept;

  ApplyProgress* observer_;
  ApplyPosition at_;
  bool in_entry_ = false;
  std::uint64_t entry_start_ = 0;  // bytes_done when the current entry began
  std::uint64_t entry_size_ = 0;
  HashProgress hashed_;
  std::optional<platform::ScopedHeldFileWait> wait_;
};

}  // namespace korvanta
