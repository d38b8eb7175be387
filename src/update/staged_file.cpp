#include "update/staged_file.h"

#include "platform/text.h"
#include "update/apply_file_system.h"

namespace korvanta {

namespace {

// How the file at path compares with a replacement's announcement, in one
// open: the size comes first, so that a file of the wrong size is never read.
// Only a file that cannot be opened has its status asked, to tell absence (no
// error) and a folder from a file that is there but unreadable (error set to
// the open's error); error is also set when that status cannot be queried.
enum class Content { absent, wrong_size, unreadable, wrong_hash, announced };

Content compare_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement,
                        std::error_code& error, platform::FileStatus& status, const HashProgress& progress) {
  std::uint64_t found_size = 0;
  const std::string digest = file_system.sha256_file_hex(path, replacement.size, found_size, error, progress);
  if (!error) {
    status = {};
    status.exists = true;
    status.size = found_size;
    if (found_size != replacement.size) return Content::wrong_size;
    return replacement.sha256.matches(digest) ? Content::announced : Content::wrong_hash;
  }
  const std::error_code open_error = error;
  status = file_system.status(path, error);
  if (error || !status.exists) return Content::absent;
  if (status.is_directory || status.size != replacement.size) return Content::wrong_size;
  // There with the right size, yet it cannot be opened: held without read
  // sharing, or access refused.
  error = open_error;
  return Content::unreadable;
}

}  // namespace

std::optional<ApplyError> verify_staged_file(ApplyFileSystem& file_system, const Replacement& replacement,
                                             platform::FileStatus* staged, const HashProgress& progress) {
  std::error_code error;
  platform::FileStatus status;
  const Content content =
      compare_content(file_system, platform::utf8_to_wide(replacement.staged_path), replacement, error, status, progress);
  if (staged != nullptr) *staged = status;
  switch (content) {
    case Content::absent:
      if (error) return system_failure(error);
      return failure(Reason::staged_file_size_mismatch);
    case Content::wrong_size:
      return failure(Reason::staged_file_size_mismatch);
    case Content::unreadable:
      return failure(Reason::failed_to_open_file, error);
    case Content::wrong_hash:
      return failure(Reason::staged_file_hash_mismatch);
    case Content::announced:
      break;
  }
  return std::nullopt;
}

bool holds_announced_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement,
                             const HashProgress& progress) {
  std::error_code error;
  platform::FileStatus status;
  return compare_content(file_system, path, replacement, error, status, progress) == Content::announced;
}

}  // namespace korvanta
