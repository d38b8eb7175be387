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
  const platform::FileStatus status = file_system.status(candidate.staged_path, error);
  if (error) return refuse(reason, platform::os_error_text(error));
  if (!status.exists) {
    replacement = std::move(candidate);
    reason = reason::kStagedFileSizeMismatch;
    return StagedCheck::missing;
  }
  // The size comes first so that a file of the wrong size is never read.
  if (status.is_directory || status.size != candidate.size) return refuse(reason, reason::kStagedFileSizeMismatch);
  std::string digest;
  try {
    digest = file_system.sha256_file_hex(candidate.staged_path);
  } catch (const std::runtime_error&) {
    // Found with the right size a moment ago, yet it cannot be opened: held
    // without read sharing, or access refused.
    return refuse(reason, reason::kFailedToOpenFile);
  }
  if (digest != candidate.sha256) return refuse(reason, reason::kStagedFileHashMismatch);
  replacement = std::move(candidate);
  return StagedCheck::verified;
}

bool holds_announced_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement) {
  std::error_code error;
  const platform::FileStatus status = file_system.status(path, error);
  if (error || !status.exists || status.is_directory || status.size != replacement.size) return false;
  try {
    return file_system.sha256_file_hex(path) == replacement.sha256;
  } catch (const std::runtime_error&) {
    return false;
  }
}

}  // namespace korvanta
