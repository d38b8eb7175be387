#include "update/staged_file.h"

#include "platform/text.h"
#include "update/apply_file_system.h"

namespace korvanta {

namespace {

// How the file at path compares with a replacement's announcement. The size
// comes first, so that a file of the wrong size is never read. error is set
// when the file's status cannot be queried (absence is no error), and when a
// file of the right size cannot be opened.
enum class Content { absent, wrong_size, unreadable, wrong_hash, announced };

Content compare_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement,
                        std::error_code& error, platform::FileStatus& status, const HashProgress& progress) {
  status = file_system.status(path, error);
  if (error || !status.exists) return Content::absent;
  if (status.is_directory || status.size != replacement.size) return Content::wrong_size;
  const std::string digest = file_system.sha256_file_hex(path, error, progress);
  // Found with the right size a moment ago, yet it cannot be opened: held
  // without read sharing, or access refused.
  if (error) return Content::unreadable;
  return replacement.sha256.matches(digest) ? Content::announced : Content::wrong_hash;
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
