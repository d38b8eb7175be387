#include "manifest/manifest_writer.h"

#include <exception>
#include <filesystem>
#include <utility>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/path_text.h"

namespace korvanta {
namespace {

constexpr const wchar_t* kTemporarySuffix = L".tmp";

using Step = WriteFailure::Step;

WriteFailure failed(Step step, std::error_code system = {}) { return {step, system, {}}; }

// A failure told by an exception's message; copying the message can itself
// run out of memory, which leaves the failure without it.
WriteFailure failed(Step step, const char* message) noexcept {
  WriteFailure failure{step, {}, {}};
  try {
    failure.message = message;
  } catch (...) {
  }
  return failure;
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

std::optional<WriteFailure> write_json_file(const std::wstring& path, const nlohmann::json& value) {
  try {
    // The text first: a value that cannot be written (a string that is not
    // UTF-8) must leave the installed manifest as it was.
    std::string text;
    try {
      text = value.dump(4, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception& e) {
      return failed(Step::encode, e.what());
    }

    const std::wstring directory = platform::path_text::parent_path(path);
    if (const auto error = platform::create_directories(directory)) {
      WriteFailure failure = failed(Step::create_directories, error);
      failure.message =
          std::filesystem::filesystem_error("create_directories", platform::fs_path(directory), error).what();
      return failure;
    }

    // The text goes to a file beside the target that replaces it only once it
    // is complete and on the disk: a crash, a power cut or a full disk leaves
    // the old manifest, never a truncated one. A temporary file left by such
    // a crash is simply overwritten next time.
    TemporaryFile temporary(path + kTemporarySuffix);
    if (const auto error = temporary.file().create(temporary.path())) return failed(Step::create, error);
    platform::OutputFile& file = temporary.file();
    std::error_code error = file.write(text);
    if (!error) error = file.flush();
    if (!error) error = file.close();
    if (error) return failed(Step::write, error);
    if ((error = platform::replace_file(temporary.path(), path))) return failed(Step::replace, error);
    temporary.commit();
    return std::nullopt;
  } catch (const std::exception& e) {
    return failed(Step::memory, e.what());
  } catch (...) {
    return failed(Step::memory);
  }
}

std::optional<WriteFailure> write_build_manifest(const std::wstring& path, const BuildManifest& manifest) {
  try {
    return write_json_file(path, build_manifest_to_json(manifest));
  } catch (const std::exception& e) {  // out of memory while building the value
    return failed(Step::memory, e.what());
  }
}

}  // namespace korvanta
