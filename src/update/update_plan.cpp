#include "update/update_plan.h"

#include <algorithm>
#include <functional>

#include "manifest/build_manifest.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/apply_file_system.h"
#include "update/path_compare.h"

namespace korvanta {
namespace {

constexpr std::string_view kDataDirectoryName = ".korvanta";

// Whether a relative path leads into the data directory: its first part is
// that directory's name (ASCII letters in any case; a stream of the
// directory, "name:stream", is the directory too), or, for a part that can
// be a short name (those hold a "~"), names the same directory on disk.
bool in_data_directory(const UpdatePlan& plan, const std::string& relative, ApplyFileSystem& fs,
                       const std::optional<platform::FileIdentity>& data_dir) {
  const std::string first = relative.substr(0, relative.find_first_of("/:"));
  if (to_lower_ascii(first) == kDataDirectoryName) return true;
  if (first.find('~') == std::string::npos || !data_dir) return false;
  const auto identity = fs.identity(platform::path_text::join(plan.install_root, platform::utf8_to_wide(first)));
  return identity && identity->volume == data_dir->volume && identity->index == data_dir->index;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

ApplyError at(ApplyError error, std::string place, const EntryPath& entry) {
  error.place = std::move(place);
  error.path = entry.as_given();
  return error;
}

}  // namespace

AnnouncedDigest::AnnouncedDigest(std::string_view text) {
  if (text.size() != 2 * bytes_.size()) return;
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    const int high = hex_value(text[2 * i]), low = hex_value(text[2 * i + 1]);
    if (high < 0 || low < 0) return;
    bytes_[i] = static_cast<unsigned char>(high << 4 | low);
  }
  valid_ = true;
}

bool AnnouncedDigest::matches(std::string_view digest) const {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (!valid_ || digest.size() != 2 * bytes_.size()) return false;
  for (std::size_t i = 0; i < bytes_.size(); ++i)
    if (digest[2 * i] != kDigits[bytes_[i] >> 4] || digest[2 * i + 1] != kDigits[bytes_[i] & 15]) return false;
  return true;
}

std::string deletion_place(std::size_t index) { return "/deletions/" + std::to_string(index); }
std::string replacement_place(std::size_t index) { return "/replacements/" + std::to_string(index); }

std::optional<ApplyError> check_update_plan(const UpdatePlan& plan, ApplyFileSystem& fs) {
  const std::optional<platform::FileIdentity> data_dir = fs.identity(plan.data_dir);
  for (std::size_t i = 0; i < plan.deletions.size(); ++i)
    if (in_data_directory(plan, plan.deletions[i].path, fs, data_dir))
      return at(failure(Reason::deletion_in_data_directory), deletion_place(i), plan.deletions[i]);

  // The staged files by their comparison form, found twice through a sort of
  // their hashes, so that a million entries need no set of a million paths.
  std::vector<std::pair<std::size_t, std::size_t>> staged;  // hash, index
  staged.reserve(plan.replacements.size());
  for (std::size_t i = 0; i < plan.replacements.size(); ++i) {
    if (in_data_directory(plan, plan.replacements[i].path, fs, data_dir))
      return at(failure(Reason::replacement_in_data_directory), replacement_place(i), plan.replacements[i]);
    staged.emplace_back(std::hash<std::wstring>()(compare_form(platform::utf8_to_wide(plan.replacements[i].staged_path))), i);
  }
  std::sort(staged.begin(), staged.end());
  std::optional<std::size_t> twice;  // the first replacement whose staged file an earlier one names
  for (auto run = staged.begin(); run != staged.end();) {
    const auto end = std::find_if(run, staged.end(), [&](const auto& s) { return s.first != run->first; });
    for (auto a = run; a != end; ++a)
      for (auto b = a + 1; b != end; ++b)
        if ((!twice || b->second < *twice) &&
            paths_equal(platform::utf8_to_wide(plan.replacements[a->second].staged_path),
                        platform::utf8_to_wide(plan.replacements[b->second].staged_path)))
          twice = b->second;
    run = end;
  }
  if (twice) return at(failure(Reason::staged_file_listed_twice), replacement_place(*twice), plan.replacements[*twice]);

  // A replacement inside another's path ("tex" and "tex/a.dds"): no build
  // holds both a file and a folder of one name, and installing one would put
  // the other, or the player's original, out of its place. Each path's
  // folders are looked up among the replacements' paths (ASCII case
  // ignored).
  const PathsIgnoringCase<Replacement> paths(plan.replacements);
  std::optional<std::size_t> nested;  // the later of the first such pair
  for (std::size_t i = 0; i < plan.replacements.size(); ++i) {
    const std::string lowered = to_lower_ascii(plan.replacements[i].path);
    for (std::size_t slash = lowered.find('/'); slash != std::string::npos; slash = lowered.find('/', slash + 1))
      paths.find(lowered.substr(0, slash), [&](std::size_t j) {
        if (!nested || std::max(i, j) < *nested) nested = std::max(i, j);
      });
  }
  if (nested)
    return at(failure(Reason::replacement_inside_replacement), replacement_place(*nested), plan.replacements[*nested]);
  return std::nullopt;
}

}  // namespace korvanta
