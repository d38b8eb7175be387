#include "update/update_state.h"

#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"
#include "platform/file_io.h"
#include "platform/full_path.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/path_compare.h"

namespace korvanta {
namespace {

using nlohmann::json;

ApplyError refused(Reason reason, std::string place, std::string path = {}) {
  ApplyError error = failure(reason);
  error.place = std::move(place);
  error.path = std::move(path);
  return error;
}

// An entry's path; nothing when normalize_relative_path refuses it.
std::optional<EntryPath> entry_path(std::string given) {
  std::optional<std::string> path = normalize_relative_path(given);
  if (!path) return std::nullopt;
  EntryPath entry{std::move(*path), {}};
  if (entry.path != given) entry.given = std::move(given);
  return entry;
}

// The state file through a fixed buffer, as the input iterator the JSON
// parser reads from: the parser holds one token at a time, never the file.
class StateInput {
 public:
  explicit StateInput(platform::InputFile& file) : file_(file), buffer_(kBufferBytes) {}
  bool failed() const { return static_cast<bool>(error_); }

  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;
    Iterator() = default;  // the end
    explicit Iterator(StateInput* input) : input_(input) {}
    reference operator*() const { return input_->buffer_[input_->next_]; }
    Iterator& operator++() {
      ++input_->next_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_end() == b.at_end(); }
    friend bool operator!=(const Iterator& a, const Iterator& b) { return !(a == b); }

   private:
    bool at_end() const { return input_ == nullptr || !input_->fill(); }
    StateInput* input_ = nullptr;
  };
  Iterator begin() { return Iterator(this); }
  Iterator end() { return Iterator(); }

 private:
  static constexpr std::size_t kBufferBytes = 64 * 1024;
  // Whether a byte is there to read; reads the next part of the file when
  // the buffer is spent. A failed read ends the text, and the load fails.
  bool fill() {
    if (next_ < size_) return true;
    if (done_) return false;
    next_ = 0;
    size_ = file_.read(buffer_.data(), buffer_.size(), error_);
    done_ = size_ == 0;
    return !done_;
  }
  platform::InputFile& file_;
  std::vector<char> buffer_;
  std::size_t next_ = 0, size_ = 0;
  bool done_ = false;
  std::error_code error_;
};

// A string that names a file or directory. A NUL character would end the
// path in the system's calls, which would then act on another place than the
// one the checks compared.
struct NamedPath {
  bool is_path = false;  // present, a string, no NUL
  std::string text;
  void set(std::string* value) {
    is_path = value && value->find('\0') == std::string::npos;
    text = value ? std::move(*value) : std::string();
  }
};

// What one list of entries ("deletions", "replacements") held: whether it
// was of its type (an array, or null for none), the pointer below it of its
// first element of the wrong shape, and its first entry whose path
// normalize_relative_path refuses. The entries before those go into the plan.
struct ListReading {
  bool typed = false;
  std::optional<std::string> fault;  // "/<index>" or "/<index>/<key>"
  std::optional<std::size_t> refused_index;
  std::string refused_path;
  std::size_t count = 0;  // elements so far

  void fault_at(std::size_t index, const char* key) {
    if (fault) return;
    fault.emplace("/").append(std::to_string(index)).append(key);
  }
  // Whether an entry still decides anything: not after an element of the
  // wrong shape (the refusal names that one) or a refused path.
  bool reads_entries() const { return !fault && !refused_index; }
  void refuse(std::size_t index, std::string path) {
    refused_index = index;
    refused_path = std::move(path);
  }
};

// The state file's events, straight into the plan: the roots' texts, each
// list's entries, the manifest through its own reader. What breaks the shape
// is noted as it comes and refused only once the whole text has proved to be
// JSON, in the documented order whatever the order of the keys; where a key
// repeats, its last value replaces what the earlier one left. Nothing of the
// document is kept but what the plan holds.
class StateReader final : public nlohmann::json_sax<json> {
 public:
  explicit StateReader(UpdatePlan& plan) : plan_(plan) {}

  bool null() override { return forward_ ? manifest_->null() : scalar(Kind::null, nullptr, 0); }
  bool boolean(bool value) override { return forward_ ? manifest_->boolean(value) : scalar(Kind::other, nullptr, 0); }
  bool number_integer(number_integer_t value) override {
    return forward_ ? manifest_->number_integer(value) : scalar(Kind::other, nullptr, json_count(value));
  }
  bool number_unsigned(number_unsigned_t value) override {
    return forward_ ? manifest_->number_unsigned(value) : scalar(Kind::other, nullptr, json_count(value));
  }
  bool number_float(number_float_t value, const string_t& text) override {
    return forward_ ? manifest_->number_float(value, text) : scalar(Kind::other, nullptr, json_count(value));
  }
  bool string(string_t& value) override { return forward_ ? manifest_->string(value) : scalar(Kind::string, &value, 0); }
  bool binary(binary_t& value) override { return forward_ ? manifest_->binary(value) : scalar(Kind::other, nullptr, 0); }
  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close(true); }
  bool end_array() override { return close(false); }
  bool key(string_t& value) override;
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

  // Once the text has been parsed whole: the first refusal of the shape, a
  // root, an entry or the manifest; nothing, with the plan filled, when there
  // is none.
  std::optional<ApplyError> refusal();

 private:
  enum class Kind : unsigned char { null, string, other };
  enum class Key : unsigned char {
    install_root, manifest_path, backup_root, staging_root,  // in kRootKeys' order
    deletions, replacements, manifest, other };
  enum class Field : unsigned char { path, staged_path, sha256, size, other };
  enum class In : unsigned char { top, deletions, replacements, replacement };

  bool scalar(Kind kind, std::string* text, std::uint64_t count);
  bool open(bool object);
  bool close(bool object);
  void begin_list(bool typed);
  void end_replacement();
  std::optional<ApplyError> check_roots();

  UpdatePlan& plan_;
  std::size_t depth_ = 0;    // containers open
  std::size_t skip_ = 0;     // of those, inside a value that is not read
  std::size_t forward_ = 0;  // of those, in the manifest's value
  std::vector<In> in_;       // the open containers that are read, outermost first
  Key key_ = Key::other;
  bool top_object_ = false;
  NamedPath roots_[4];
  ListReading deletions_, replacements_;
  bool manifest_object_ = false;
  std::unique_ptr<ManifestReader> manifest_;
  // The replacement being read.
  Field field_ = Field::other;
  std::size_t index_ = 0;
  NamedPath path_, staged_path_;
  bool has_sha256_ = false, has_size_ = false;
  std::string sha256_;
  std::uint64_t size_ = 0;
};

constexpr const char* kRootKeys[] = {"install_root", "manifest_path", "backup_root", "staging_root"};

bool StateReader::key(string_t& value) {
  if (forward_) return manifest_->key(value);
  if (skip_ || in_.empty()) return true;
  if (in_.back() == In::top) {
    static const std::pair<std::string_view, Key> keys[] = {
        {"install_root", Key::install_root}, {"manifest_path", Key::manifest_path}, {"backup_root", Key::backup_root},
        {"staging_root", Key::staging_root}, {"deletions", Key::deletions},         {"replacements", Key::replacements},
        {"manifest", Key::manifest}};
    key_ = Key::other;
    for (const auto& [name, key] : keys)
      if (value == name) key_ = key;
  } else if (in_.back() == In::replacement) {
    field_ = value == "path"          ? Field::path
             : value == "staged_path" ? Field::staged_path
             : value == "sha256"      ? Field::sha256
             : value == "size"        ? Field::size
                                      : Field::other;
  }
  return true;
}

// A "deletions" or "replacements" value begins: it replaces the key's
// earlier value, if any.
void StateReader::begin_list(bool typed) {
  ListReading& list = key_ == Key::deletions ? deletions_ : replacements_;
  list = ListReading{typed};
  if (key_ == Key::deletions) plan_.deletions.clear();
  else plan_.replacements.clear();
}

bool StateReader::scalar(Kind kind, std::string* text, std::uint64_t count) {
  if (skip_ || in_.empty()) return true;  // not read, or a top level that is no object
  switch (in_.back()) {
    case In::top:
      switch (key_) {
        case Key::deletions:
        case Key::replacements: begin_list(kind == Kind::null); break;  // null lists none
        case Key::manifest: manifest_object_ = false; break;
        case Key::other: break;
        default: roots_[static_cast<int>(key_)].set(text); break;
      }
      break;
    case In::deletions: {
      const std::size_t index = deletions_.count++;
      if (!text || text->find('\0') != std::string::npos) {
        deletions_.fault_at(index, "");
      } else if (deletions_.reads_entries()) {
        if (auto entry = entry_path(*text)) plan_.deletions.push_back({std::move(*entry)});
        else deletions_.refuse(index, std::move(*text));
      }
      break;
    }
    case In::replacements: replacements_.fault_at(replacements_.count++, ""); break;
    case In::replacement:
      switch (field_) {
        case Field::path: path_.set(text); break;
        case Field::staged_path: staged_path_.set(text); break;
        case Field::sha256:
          has_sha256_ = text != nullptr;
          if (text) sha256_ = std::move(*text);
          break;
        case Field::size:
          has_size_ = true;
          size_ = count;
          break;
        case Field::other: break;
      }
      break;
  }
  return true;
}

bool StateReader::open(bool object) {
  if (++depth_ > kMaxStateDepth) return false;  // unreadable: see kMaxStateDepth
  if (forward_) return ++forward_, object ? manifest_->start_object(static_cast<std::size_t>(-1)) : manifest_->start_array(static_cast<std::size_t>(-1));
  if (skip_) return ++skip_, true;
  bool read = false;
  if (in_.empty()) {
    top_object_ = read = object;
    if (read) in_.push_back(In::top);
  } else {
    switch (in_.back()) {
      case In::top:
        if (key_ == Key::deletions || key_ == Key::replacements) {
          begin_list(!object);
          if ((read = !object)) in_.push_back(key_ == Key::deletions ? In::deletions : In::replacements);
        } else if (key_ == Key::manifest) {
          manifest_object_ = object;
          if (object) {
            manifest_ = std::make_unique<ManifestReader>();
            forward_ = 1;
            return manifest_->start_object(static_cast<std::size_t>(-1));
          }
        } else if (key_ != Key::other) {
          roots_[static_cast<int>(key_)].set(nullptr);
        }
        break;
      case In::deletions: deletions_.fault_at(deletions_.count++, ""); break;
      case In::replacements:
        index_ = replacements_.count++;
        if ((read = object)) {
          in_.push_back(In::replacement);
          path_ = staged_path_ = {};
          has_sha256_ = has_size_ = false;
          size_ = 0;
        } else {
          replacements_.fault_at(index_, "");
        }
        break;
      case In::replacement:
        // A value of the wrong type for the key, or of a key not read.
        if (field_ == Field::path) path_.set(nullptr);
        if (field_ == Field::staged_path) staged_path_.set(nullptr);
        if (field_ == Field::sha256) has_sha256_ = false;
        if (field_ == Field::size) has_size_ = true, size_ = 0;
        break;
    }
  }
  if (!read) ++skip_;
  return true;
}

bool StateReader::close(bool object) {
  --depth_;
  if (forward_) {
    --forward_;
    return object ? manifest_->end_object() : manifest_->end_array();
  }
  if (skip_) return --skip_, true;
  if (in_.back() == In::replacement) end_replacement();
  in_.pop_back();
  return true;
}

void StateReader::end_replacement() {
  const char* fault = !path_.is_path         ? "/path"
                      : !staged_path_.is_path ? "/staged_path"
                      : !has_sha256_          ? "/sha256"
                      : !has_size_            ? "/size"
                                              : nullptr;
  if (fault) return replacements_.fault_at(index_, fault);
  if (!replacements_.reads_entries()) return;
  std::optional<EntryPath> path = entry_path(path_.text);
  if (!path) return replacements_.refuse(index_, std::move(path_.text));
  Replacement replacement{std::move(*path)};
  replacement.staged_path = staged_path_.text;  // a copy: the parser's strings have room to spare
  replacement.size = size_;
  replacement.sha256 = AnnouncedDigest(sha256_);
  plan_.replacements.push_back(std::move(replacement));
}

// The directories the state file names, each against its fixed place.
std::optional<ApplyError> StateReader::check_roots() {
  namespace path_text = platform::path_text;
  const auto wide = [this](Key key) { return platform::utf8_to_wide(roots_[static_cast<int>(key)].text); };
  // An empty string would be resolved to the current directory, which could
  // happen to match; it never names the place, so each fails its own check.
  plan_.install_root = path_text::parent_path(plan_.data_dir);
  const std::wstring named_root = wide(Key::install_root);
  if (named_root.empty() || !paths_equal(plan_.install_root, named_root))
    return refused(Reason::install_root_mismatch, "/install_root");
  // The path itself must end in the file's name: one ending in a separator
  // compares equal, but would have the manifest written into a directory of
  // that name after every file had changed.
  plan_.manifest_path = wide(Key::manifest_path);
  if (!file_name_is(plan_.manifest_path, L"build-manifest.json") ||
      !paths_equal(plan_.manifest_path, path_text::join(plan_.data_dir, L"build-manifest.json")))
    return refused(Reason::manifest_path_outside_install, "/manifest_path");
  plan_.backup_root = wide(Key::backup_root);
  if (plan_.backup_root.empty() || !is_within(path_text::join(plan_.data_dir, L"backup"), plan_.backup_root))
    return refused(Reason::backup_root_outside_install, "/backup_root");
  plan_.staging_root = wide(Key::staging_root);
  if (plan_.staging_root.empty() || !is_within(path_text::join(plan_.data_dir, L"staging"), plan_.staging_root))
    return refused(Reason::staging_root_outside_install, "/staging_root");
  return std::nullopt;
}

std::optional<ApplyError> StateReader::refusal() {
  // A document of another shape would otherwise stop half-way through the
  // apply, or never be read at all; refuse it before anything changes.
  const auto shape = [](std::string place) { return refused(Reason::invalid_update_state, std::move(place)); };
  if (!top_object_) return shape(std::string(kStateFilePlace));
  for (int i = 0; i < 4; ++i)
    if (!roots_[i].is_path) return shape(std::string("/") + kRootKeys[i]);
  for (const auto& [list, key] : {std::pair{&deletions_, "/deletions"}, {&replacements_, "/replacements"}}) {
    if (!list->typed) return shape(key);
    if (list->fault) return shape(key + *list->fault);
  }
  if (!manifest_object_) return shape("/manifest");

  if (auto error = check_roots()) return error;
  // The entries, each refused as the engine would have refused it on
  // reaching it: every path is known before the first change.
  if (deletions_.refused_index)
    return refused(Reason::invalid_deletion_path, deletion_place(*deletions_.refused_index), deletions_.refused_path);
  for (std::size_t i = 0; i < plan_.replacements.size(); ++i)
    if (!is_within(plan_.staging_root, platform::utf8_to_wide(plan_.replacements[i].staged_path)))
      return refused(Reason::staged_file_outside_staging_root, replacement_place(i), plan_.replacements[i].as_given());
  if (replacements_.refused_index)
    return refused(Reason::invalid_replacement_path, replacement_place(*replacements_.refused_index),
                   replacements_.refused_path);
  // The new build's manifest, taken now rather than once the files have
  // changed: a launcher's faulty manifest must leave the old build whole.
  std::optional<BuildManifest> manifest = manifest_->take();
  manifest_.reset();
  if (!manifest) return refused(Reason::invalid_update_manifest, std::string(kManifestPlace));
  plan_.manifest = std::move(*manifest);
  return std::nullopt;
}

}  // namespace

std::optional<ApplyError> locate_update_state(const std::wstring& state_path, UpdatePlan& plan) {
  namespace path_text = platform::path_text;
  plan.state_file = path_text::lexically_normal(platform::full_path(state_path));
  plan.data_dir = path_text::parent_path(plan.state_file);
  if (file_name_is(plan.state_file, L"update-state.json") && file_name_is(plan.data_dir, L".korvanta"))
    return std::nullopt;
  return refused(Reason::invalid_update_state_location, std::string(kStateFilePlace));
}

std::optional<ApplyError> load_update_plan(const std::wstring& state_path, UpdatePlan& plan,
                                           ApplyFileSystem& file_system) {
  const ApplyError unreadable = refused(Reason::failed_to_load_update_state, std::string(kStateFilePlace));
  // Opened as staged files are: a scanner that holds the freshly written
  // state file for a moment is waited out.
  platform::InputFile file;
  if (file.open(state_path)) return unreadable;
  StateReader reader(plan);
  StateInput input(file);
  // Not strict: one value is read and whatever follows it is not.
  if (!json::sax_parse(input.begin(), input.end(), &reader, json::input_format_t::json, /*strict=*/false) ||
      input.failed())
    return unreadable;
  file.close();
  if (auto error = reader.refusal()) return error;
  return check_update_plan(plan, file_system);
}

}  // namespace korvanta
