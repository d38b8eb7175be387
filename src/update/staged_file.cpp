#include "update/staged_file.h"

#include <stdexcept>

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"
#include "platform/error.h"
#include "platform/text.h"
#include "update/apply_file_system.h"
#include "update/path_compare.h"
#include "update/reason_codes.h"

namespace korvanta {

namespace {

StagedCheck refuse(std::string& reason, std::string text) {
  reason = std::move(text);
  return StagedCheck::refused;
}

// How the file at path compares with a replacement's announcement. The size
// comes first, so that a file of the wrong size is never read. error is set
// only when the file's status cannot be queried (absence is no error).
enum class Content { absent, wrong_size, unreadable, wrong_hash, announced };

Content compare_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement,
                        std::error_code& error) {
  const platform::FileStatus status = file_system.status(path, error);
  if (error || !status.exists) return Content::absent;
  if (status.is_directory || status.size != replacement.size) return Content::wrong_size;
  try {
    return file_system.sha256_file_hex(path) == replacement.sha256 ? Content::announced : Content::wrong_hash;
  } catch (const std::runtime_error&) {
    // Found with the right size a moment ago, yet it cannot be opened: held
    // without read sharing, or access refused.
    return Content::unreadable;
  }
}

}  // namespace

StagedCheck verify_staged_file(const nlohmann::json& entry, const std::wstring& staging_root,
                               ApplyFileSystem& file_system, Replacement& replacement, std::string& reason) {
  std::optional<std::string> path = normalize_relative_path(entry.at("path").get_ref<const std::string&>());
  if (!path) return refuse(reason, reason::kInvalidReplacementPath);
  Replacement candidate;
  candidate.path = std::move(*path);
  candidate.staged_path = platform::utf8_to_wide(entry.at("staged_path").get_ref<const std::string&>());
  candidate.size = json_to_u64(entry.at("size"));
  candidate.sha256 = to_lower_ascii(entry.at("sha256").get<std::string>());

  if (!is_within(staging_root, candidate.staged_path)) return refuse(reason, reason::kStagedFileOutsideStagingRoot);
  std::error_code error;
  switch (compare_content(file_system, candidate.staged_path, candidate, error)) {
    case Content::absent:
      if (error) return refuse(reason, platform::os_error_text(error));
      replacement = std::move(candidate);
      reason = reason::kStagedFileSizeMismatch;
      return StagedCheck::missing;
    case Content::wrong_size:
      return refuse(reason, reason::kStagedFileSizeMismatch);
    case Content::unreadable:
      return refuse(reason, reason::kFailedToOpenFile);
    case Content::wrong_hash:
      return refuse(reason, reason::kStagedFileHashMismatch);
    case Content::announced:
      break;
  }
  replacement = std::move(candidate);
  return StagedCheck::verified;
}

bool holds_announced_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement) {
  std::error_code error;
  return compare_content(file_system, path, replacement, error) == Content::announced;
}

}  // namespace korvanta
