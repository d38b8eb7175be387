#pragma once
// The check of one staged file just before it replaces an installed one.
#include <optional>
#include <string>

#include "manifest/sha256.h"
#include "platform/file_system.h"
#include "update/apply_error.h"
#include "update/update_plan.h"

namespace korvanta {

class ApplyFileSystem;

// Proves that the staged file of a replacement (its place already checked)
// has the announced size and the announced SHA-256, the size first, so that
// a file of the wrong size is never read. Nothing when it has. Otherwise
// staged_file_size_mismatch (no file; a directory; another
// size), staged_file_hash_mismatch, failed_to_open_file (present with the
// right size but unreadable, with the open's error), or the system's message
// when the file's status cannot be queried for another reason than its
// absence. Changes nothing. *staged (when given) gets the file's status;
// progress hears the hash's reading.
std::optional<ApplyError> verify_staged_file(ApplyFileSystem& file_system, const Replacement& replacement,
                                             platform::FileStatus* staged = nullptr, const HashProgress& progress = {});

// True when the file at path has exactly the replacement's announced size
// and SHA-256; false when it differs, is missing or cannot be read. Hashes
// only a file of the right size, telling progress as it reads.
bool holds_announced_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement,
                             const HashProgress& progress = {});

}  // namespace korvanta
