#include "app/install_progress.h"

#include <limits>
#include <utility>

#include "platform/text.h"

namespace korvanta {
namespace {

// The bar's measure of the work, chosen to grow about evenly in time: every
// byte that a check reads, and for every entry kEntryWork more, about what
// its file-system calls (status queries, folders, renames) cost
// in reading time: under Wine an entry of a small file took 0.8 ms, in which
// the hash reads about 600 KiB. Bytes alone would leave the bar standing
// through thousands of small files and every deletion; entries alone would
// stand it still through a file of gigabytes. The figures in the detail stay
// real bytes, so the percentage runs ahead of them while small files go and
// behind them while a large one does.
constexpr std::uint64_t kEntryWork = 512 * 1024;

constexpr std::wstring_view kHeldPrefix = L"Waiting for ";
constexpr std::wstring_view kHeldSuffix = L", in use by another program";

std::uint64_t work(std::uint64_t entries, std::uint64_t bytes) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  if (entries > kMax / kEntryWork) return kMax;
  const std::uint64_t fixed = entries * kEntryWork;
  return bytes > kMax - fixed ? kMax : fixed + bytes;
}

}  // namespace

std::wstring byte_figures(std::uint64_t done, std::uint64_t total) {
  if (total < 1024) return std::to_wstring(done) + L" B of " + std::to_wstring(total) + L" B";
  static constexpr const wchar_t* kUnits[] = {L" KiB", L" MiB", L" GiB", L" TiB"};
  std::size_t unit = 0;
  std::uint64_t size = 1024;
  while (unit + 1 < std::size(kUnits) && total / size >= 1024) size *= 1024, ++unit;
  const auto in_unit = [&](std::uint64_t bytes) {
    return std::to_wstring(bytes / size) + L"." + std::to_wstring(bytes % size * 10 / size) + kUnits[unit];
  };
  return in_unit(done) + L" of " + in_unit(total);
}

InstallProgress::InstallProgress(RunLog& log, ProgressStatus phase, std::function<std::uint64_t()> now_ms)
    : log_(log), phase_(std::move(phase)), now_ms_(std::move(now_ms)) {}

void InstallProgress::update(const ApplyPosition& at) noexcept {
  try {
    const bool held = at.held && at.held_ms >= kHeldNoticeMs && !at.path.empty();
    const std::uint64_t now = now_ms_();
    // At once: the first status, a change between the progress line and the
    // wait's, the end of the last entry, and the latest position before a
    // pause (nothing else would show it until the pause is over). Anything
    // else waits for the period; the next one after it shows the latest.
    const bool due = !shown_ || held != shown_held_ || at.entries_done == at.entries || (at.held && pending_) ||
                     now - shown_at_ >= kProgressPeriodMs;
    if (!due) {
      pending_ = true;
      return;
    }
    show(at, held);
    shown_ = true;
    shown_held_ = held;
    pending_ = false;
    shown_at_ = now;
  } catch (...) {
    // Out of memory for a text: the window keeps what it shows, and the
    // update goes on.
  }
}

void InstallProgress::show(const ApplyPosition& at, bool held) {
  ProgressStatus status = phase_;
  status.total = work(at.entries, at.bytes);
  status.done = work(at.entries_done, at.bytes_done);
  if (!at.path.empty()) {
    // In the form Windows users know, which the window's path shortening
    // works on.
    std::wstring path = platform::utf8_to_wide(std::string(at.path));
    for (wchar_t& c : path)
      if (c == L'/') c = L'\\';
    if (held) status.detail = std::wstring(kHeldPrefix) + path + std::wstring(kHeldSuffix);
    else status.detail = path + std::wstring(kDetailSeparator) + byte_figures(at.bytes_done, at.bytes);
  }
  log_.show_progress(std::move(status));
}

}  // namespace korvanta
