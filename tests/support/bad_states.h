#pragma once
// The corpus of malformed state files (tests/data/bad-states, written by
// tests/data/make_bad_states.py) and the installation they are applied to:
// the one tests/data/sample-update-state.json describes, laid out in a
// temporary directory.
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace korvanta::testing {

// A file below the repository (tests/data/..., schemas/...), "/" separated.
std::wstring source_path(const std::string& relative);

struct BadState {
  std::string name;
  std::string bytes;   // with "@ROOT@" for the installation root
  std::string reason;  // the reason code the apply must end with
  bool unchanged;      // whether the installation must stay exactly as it was
};

// The committed corpus, and with generated_large the cases too big to commit
// (10 MB files, 100,000 deletions, 100,000 levels of nesting).
std::vector<BadState> bad_states(bool generated_large);

// Every reason code of the apply step.
const std::vector<std::string>& reason_codes();

// Size and SHA-256 of every file below a directory, keyed by the "/"
// separated relative path; directories appear with size 0 and digest "<dir>".
struct Entry {
  std::uint64_t size = 0;
  std::string sha256;
  bool operator==(const Entry&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Entry& e) { return out << e.size << " " << e.sha256; }
};
using Tree = std::map<std::string, Entry>;
Tree tree_of(const std::wstring& dir);

// The sample's installation: "Game" with game.exe, data/old.pak and
// data/level.pak installed, the two staged files in
// .korvanta/staging/build-2, an earlier build-manifest.json, and a file
// outside the installation ("outside/keep.txt").
class SampleInstallation {
 public:
  SampleInstallation();

  const std::wstring& root() const { return root_; }
  std::wstring state_path() const { return root_ + L"\\.korvanta\\update-state.json"; }
  const std::wstring& dir() const { return temp_.path(); }

  // Writes the state file with every "@ROOT@" replaced by the root as JSON
  // string content.
  void write_state(const std::string& bytes_with_placeholder) const;
  // The sample state file, its root replaced by this installation's.
  std::string sample_state() const;

  // Files of `before` whose content is nowhere it may be in `after`: at the
  // same path; for an installed file also at its path in the backup root; for
  // a staged file also at its installed path.
  static std::vector<std::string> lost_files(const Tree& before, const Tree& after);

 private:
  TempDir temp_;
  std::wstring root_;
};

}  // namespace korvanta::testing
