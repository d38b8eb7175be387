#pragma once
// The installing phase in the window while the apply works: the entry at
// work, the bytes done of the whole, a bar and a percentage, and a wait for a
// file that another program holds.
#include <cstdint>
#include <functional>
#include <string>

#include "log/run_log.h"
#include "ui/progress_status.h"
#include "update/apply_progress.h"

namespace korvanta {

// At least this long between two statuses, but for the few that go at once
// (see update): the window's frame period, so that no status is made that
// would never be drawn, and the main thread spends nothing measurable on
// them.
inline constexpr std::uint64_t kProgressPeriodMs = 30;
// A wait for a held file shows once it has lasted this long: shorter ones
// are the everyday scanner's, and would only flicker.
inline constexpr std::uint64_t kHeldNoticeMs = 1000;

class InstallProgress final : public ApplyProgress {
 public:
  // phase: the installing phase's status, shown as it is (with the bar at
  // the work done) while no entry is at work. now_ms: a steady clock in
  // milliseconds.
  InstallProgress(RunLog& log, ProgressStatus phase, std::function<std::uint64_t()> now_ms);

  // Shows the position: the bar and the percentage at the work done (see
  // the measure in the .cpp), the detail "<path>  /  <done> of <total>", or
  // "Waiting for <path>, in use by another program" once a wait has lasted
  // kHeldNoticeMs. Never waits for the window.
  void update(const ApplyPosition& at) noexcept override;

 private:
  void show(const ApplyPosition& at, bool held);

  RunLog& log_;
  const ProgressStatus phase_;
  const std::function<std::uint64_t()> now_ms_;
  bool shown_ = false;
  bool shown_held_ = false;
  bool pending_ = false;  // the position changed since the last status
  std::uint64_t shown_at_ = 0;
};

// "72.4 MiB of 106.0 MiB": both in the unit that suits the total (B, KiB,
// MiB, GiB, TiB), with one decimal truncated, so that done never reads more
// than the total.
std::wstring byte_figures(std::uint64_t done, std::uint64_t total);

}  // namespace korvanta
