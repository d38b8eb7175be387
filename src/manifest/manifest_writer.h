#pragma once
// Writing the build manifest into the installation.
#include <optional>
#include <string>
#include <system_error>

#include "manifest/build_manifest.h"

namespace korvanta {

// Why a write failed: the step that failed, the system's error of the call
// that failed (none for encoding and memory), and the message of a step whose
// failure is told in words of its own.
struct WriteFailure {
  enum class Step {
    create_directories,  // message: the operation, the system's message and the directory
    create,              // the temporary file cannot be created
    write,               // a write, the flush or the close failed
    replace,             // the temporary file cannot replace the target
    encode,              // message: the JSON library's (a string that is not UTF-8)
    memory,              // message: the exception's
  };
  Step step = Step::memory;
  std::error_code system;
  std::string message;
};

// Writes the manifest as JSON text, members by key (4-space indentation, LF
// line ends, UTF-8 unescaped, no newline after the closing brace; absent
// metadata as {}), to path, creating missing directories. The text is
// streamed through a fixed buffer to a temporary file in the same directory
// (path + ".tmp", overwritten if a crash left one) that is flushed to the
// disk and then replaces the target, so the target is either the old or the
// new manifest, never a part of one; the temporary file is removed on every
// failure. A manifest that cannot be encoded (a string that is not UTF-8)
// touches nothing. Never throws.
std::optional<WriteFailure> write_build_manifest(const std::wstring& path, const BuildManifest& manifest);

// Writes a small value as JSON text the same way (4-space indentation, no
// newline after the closing brace), through the same temporary file. A value
// that cannot be encoded touches nothing. Never throws.
std::optional<WriteFailure> write_json_file(const std::wstring& path, const nlohmann::json& value);

}  // namespace korvanta
