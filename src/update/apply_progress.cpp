#include "update/apply_progress.h"

#include <algorithm>
#include <limits>

#include "update/update_plan.h"

namespace korvanta {
namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

}  // namespace

ProgressMeter::ProgressMeter(ApplyProgress* observer) : observer_(observer) {
  if (observer_ == nullptr) return;
  // A file checked twice (the staged file, then, on a second run, the one
  // installed) counts its bytes once: done never goes back.
  hashed_ = [this](std::uint64_t read) {
    const std::uint64_t done = saturating_add(entry_start_, std::min(read, entry_size_));
    if (done <= at_.bytes_done) return;
    at_.bytes_done = done;
    tell();
  };
  wait_.emplace(*this);
}

void ProgressMeter::plan(const UpdatePlan& plan) {
  at_.entries = plan.deletions.size() + plan.replacements.size();
  for (const Replacement& replacement : plan.replacements) at_.bytes = saturating_add(at_.bytes, replacement.size);
  tell();
}

void ProgressMeter::enter(std::string_view path, std::uint64_t size) {
  end_entry();
  in_entry_ = true;
  entry_start_ = at_.bytes_done;
  entry_size_ = size;
  at_.path = path;
  tell();
}

void ProgressMeter::finish() {
  end_entry();
  at_.path = {};
  tell();
}

void ProgressMeter::end_entry() {
  if (!in_entry_) return;
  in_entry_ = false;
  ++at_.entries_done;
  at_.bytes_done = std::max(at_.bytes_done, saturating_add(entry_start_, entry_size_));
}

void ProgressMeter::pause(std::uint32_t ms, std::uint64_t waited_ms) {
  at_.held = true;
  at_.held_ms = waited_ms;
  tell();
  wait_->previous().pause(ms, waited_ms);
}

void ProgressMeter::ended() {
  at_.held = false;
  at_.held_ms = 0;
  tell();
  wait_->previous().ended();
}

void ProgressMeter::tell() const noexcept {
  if (observer_ != nullptr) observer_->update(at_);
}

}  // namespace korvanta
