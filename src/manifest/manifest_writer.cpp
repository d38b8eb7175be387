#include "manifest/manifest_writer.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

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

// The text's way to the file: a fixed buffer, written out whenever it is
// full. The first failed write is kept and the text after it dropped.
// Without a file, the text goes nowhere (the check before the write).
class TextOutput final : public nlohmann::detail::output_adapter_protocol<char> {
 public:
  explicit TextOutput(platform::OutputFile* file) : file_(file), buffer_(file ? kBufferBytes : 0) {}
  void write_character(char c) override {
    if (used_ == buffer_.size()) drain();
    if (file_) buffer_[used_++] = c;
  }
  void write_characters(const char* text, std::size_t size) override {
    while (size > 0 && file_) {
      if (used_ == buffer_.size()) drain();
      const std::size_t part = std::min(size, buffer_.size() - used_);
      std::memcpy(buffer_.data() + used_, text, part);
      used_ += part, text += part, size -= part;
    }
  }
  std::error_code finish() {
    drain();
    return error_;
  }

 private:
  static constexpr std::size_t kBufferBytes = 64 * 1024;
  void drain() {
    if (file_ && !error_ && used_ > 0) error_ = file_->write(std::string_view(buffer_.data(), used_));
    used_ = 0;
  }
  platform::OutputFile* file_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::error_code error_;
};

// The manifest's JSON text, written member by member with the JSON library's
// serializer for every value, so that the text is exactly the library's
// dump(4) of the manifest as one document, which is never built. In check
// mode nothing is written, and only what could fail to encode (text beyond
// ASCII, metadata) is serialized, to the nowhere output.
class ManifestText {
 public:
  ManifestText(std::shared_ptr<TextOutput> output, bool check_only)
      : output_(output), serializer_(output, ' ', nlohmann::json::error_handler_t::strict), check_only_(check_only) {}

  void write(const BuildManifest& manifest) {
    raw("{\n");
    members(4, {{"channel", &manifest.channel}}, true);
    raw(std::string_view(kIndent, 4)), raw("\"files\": ");
    if (manifest.files.empty()) {
      raw("[]");
    } else {
      raw("[\n");
      bool first = true;
      manifest.files.for_each([&](const ManifestFile& file) {
        raw(first ? "" : ",\n");
        first = false;
        raw(std::string_view(kIndent, 8)), raw("{\n");
        members(12, {{"content_type", &file.content_type}, {"id", &file.id}, {"metadata", nullptr, 0, &file.metadata},
                     {"object_key", &file.object_key}, {"path", &file.path}, {"sha256", &file.sha256},
                     {"size", nullptr, file.size}},
                false);
        raw(std::string_view(kIndent, 8)), raw("}");
      });
      raw("\n"), raw(std::string_view(kIndent, 4)), raw("]");
    }
    raw(",\n");
    members(4, {{"id", &manifest.id}, {"id_mod", &manifest.id_mod}, {"manifest_hash", &manifest.manifest_hash},
                {"metadata", nullptr, 0, &manifest.metadata}, {"status", &manifest.status},
                {"total_size", nullptr, manifest.total_size}, {"version", &manifest.version}},
            false);
    raw("}");
  }

 private:
  static constexpr const char* kIndent = "            ";  // the deepest indentation, 12
  // A member's value: text, metadata, or else a count.
  struct Member {
    std::string_view name;
    const std::string* text = nullptr;
    std::uint64_t count = 0;
    const nlohmann::json* metadata = nullptr;
  };
  // Members at an indentation, each on its line; more: members follow.
  void members(unsigned indent, std::initializer_list<Member> list, bool more) {
    std::size_t left = list.size();
    for (const Member& member : list) {
      raw(std::string_view(kIndent, indent)), raw("\""), raw(member.name), raw("\": ");
      if (member.text) text(*member.text);
      else if (member.metadata) metadata(*member.metadata, indent);
      else count(member.count);
      raw(--left > 0 || more ? ",\n" : "\n");
    }
  }
  void raw(std::string_view text) {
    if (!check_only_) output_->write_characters(text.data(), text.size());
  }
  void text(const std::string& value) {
    if (check_only_ && std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
      return;
    scratch_text_.get_ref<std::string&>().assign(value);
    serializer_.dump(scratch_text_, true, false, 4, 0);
  }
  void count(std::uint64_t value) {
    scratch_count_ = value;
    if (!check_only_) serializer_.dump(scratch_count_, true, false, 4, 0);
  }
  // A value at the indentation of its key; none is {}.
  void metadata(const nlohmann::json& value, unsigned indent) {
    if (value.is_null()) raw("{}");
    else serializer_.dump(value, true, false, 4, indent);
  }

  std::shared_ptr<TextOutput> output_;
  nlohmann::detail::serializer<nlohmann::json> serializer_;
  bool check_only_;
  nlohmann::json scratch_text_ = std::string();
  nlohmann::json scratch_count_ = std::uint64_t(0);
};

}  // namespace

namespace {

// Writes what write_text gives to the output, checked first by check (which
// throws the JSON library's exception for what cannot be encoded), to path
// through a temporary file beside it.
template <typename Check, typename Write>
std::optional<WriteFailure> write_through_temporary(const std::wstring& path, Check check, Write write_text) {
  try {
    // Checked first: a value that cannot be written (a string that is not
    // UTF-8) must leave the file in place as it was.
    try {
      check();
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
    // the old file, never a truncated one. A temporary file left by such a
    // crash is simply overwritten next time.
    TemporaryFile temporary(path + kTemporarySuffix);
    if (const auto error = temporary.file().create(temporary.path())) return failed(Step::create, error);
    platform::OutputFile& file = temporary.file();
    const auto output = std::make_shared<TextOutput>(&file);
    try {
      write_text(output);
    } catch (const nlohmann::json::exception& e) {
      return failed(Step::encode, e.what());
    }
    std::error_code error = output->finish();
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

void dump_json(const std::shared_ptr<TextOutput>& output, const nlohmann::json& value) {
  nlohmann::detail::serializer<nlohmann::json> serializer(output, ' ', nlohmann::json::error_handler_t::strict);
  serializer.dump(value, true, false, 4, 0);
}

}  // namespace

std::optional<WriteFailure> write_build_manifest(const std::wstring& path, const BuildManifest& manifest) {
  return write_through_temporary(
      path, [&] { ManifestText(std::make_shared<TextOutput>(nullptr), true).write(manifest); },
      [&](const std::shared_ptr<TextOutput>& output) { ManifestText(output, false).write(manifest); });
}

std::optional<WriteFailure> write_json_file(const std::wstring& path, const nlohmann::json& value) {
  return write_through_temporary(
      path, [&] { dump_json(std::make_shared<TextOutput>(nullptr), value); },
      [&](const std::shared_ptr<TextOutput>& output) { dump_json(output, value); });
}

}  // namespace korvanta
