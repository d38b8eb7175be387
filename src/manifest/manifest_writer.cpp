#include "manifest/manifest_writer.h"

#include <exception>
#include <filesystem>
#include <utility>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "update/reason_codes.h"

namespace korvanta {
namespace {

constexpr const wchar_t* kTemporarySuffix = L".tmp";

// Copying the reason can itself run out of memory; the result stays false.
bool fail(std::string* reason, const char* text) noexcept {
  try {
    if (reason != nullptr) *reason = text;
  } catch (...) {
  }
  return false;
}

// Removes the temporary file on every way out but a completed replacement.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    file_.close();
    if (!committed_) platform::remove_file(path_);
  }
  const std::wstring& path() const { return path_; }
  platform::OutputFile& file() { return file_; }
  void commit() { committed_ = true; }

 private:
  std::wstring path_;
  platform::OutputFile file_;
  bool committed_ = false;
};

}  // namespace

bool write_json_file(const std::wstring& path, const nlohmann::json& value, std::string* reason) {
  try {
    // The text first: a value that cannot be written (a string that is not
    // UTF-8) must leave the installed manifest as it was.
    const std::string text = value.dump(4, ' ', false, nlohmann::json::error_handler_t::strict);

    const std::wstring directory = platform::path_text::parent_path(path);
    if (const auto error = platform::create_directories(directory)) {
      return fail(reason,
                  std::filesystem::filesystem_error("create_directories", platform::fs_path(directory), error).what());
    }

    // The text goes to a file beside the target that replaces it only once it
    // is complete and on the disk: a crash, a power cut or a full disk leaves
    // the old manifest, never a truncated one. A temporary file left by such
    // a crash is simply overwritten next time.
    TemporaryFile temporary(path + kTemporarySuffix);
    if (temporary.file().create(temporary.path())) return fail(reason, reason::kFailedToOpenFile);
    if (temporary.file().write(text) || temporary.file().flush() || temporary.file().close())
      return fail(reason, reason::kFailedToWriteFile);
    if (platform::replace_file(temporary.path(), path)) return fail(reason, reason::kFailedToOpenFile);
    temporary.commit();
    return true;
  } catch (const std::exception& e) {
    return fail(reason, e.what());
  } catch (...) {
    return fail(reason, reason::kUnexpectedError);
  }
}

bool write_build_manifest(const std::wstring& path, const BuildManifest& manifest, std::string* reason) {
  try {
    return write_json_file(path, build_manifest_to_json(manifest), reason);
  } catch (const std::exception& e) {  // out of memory while building the value
    return fail(reason, e.what());
  }
}

}  // namespace korvanta
