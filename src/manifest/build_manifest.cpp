#include "manifest/build_manifest.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

#include "manifest/relative_path.h"

namespace korvanta {
namespace {

using nlohmann::json;

constexpr std::size_t kBlockBytes = 256 * 1024;

// A record's first byte: which fields it leaves out or holds in short form.
enum : unsigned char {
  kDigestPacked = 1,   // "sha256" as its 32 bytes (it was 64 lower-case hex digits)
  kDefaultType = 2,    // "content_type" is kDefaultContentType
  kHasMetadata = 4,    // the file's metadata is the next one in metadata_
};

std::size_t varint_size(std::uint64_t value) {
  std::size_t bytes = 1;
  while (value >= 0x80) value >>= 7, ++bytes;
  return bytes;
}

char* put_varint(char* at, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7) *at++ = static_cast<char>((value & 0x7F) | 0x80);
  *at++ = static_cast<char>(value);
  return at;
}

const char* get_varint(const char* at, std::uint64_t& value) {
  value = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*at++);
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return at;
  }
}

char* put_text(char* at, std::string_view text) {
  at = put_varint(at, text.size());
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

const char* get_text(const char* at, std::string& text) {
  std::uint64_t size = 0;
  at = get_varint(at, size);
  text.assign(at, static_cast<std::size_t>(size));
  return at + size;
}

int hex_value(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; }

bool is_packable_digest(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) { return hex_value(c) >= 0; });
}

}  // namespace

// ---------------------------------------------------------------------------
// ManifestFiles

void ManifestFiles::push_back(const ManifestFile& file) {
  unsigned char flags = 0;
  if (is_packable_digest(file.sha256)) flags |= kDigestPacked;
  if (file.content_type == kDefaultContentType) flags |= kDefaultType;
  if (!file.metadata.is_null()) flags |= kHasMetadata;
  const auto text_size = [](const std::string& text) { return varint_size(text.size()) + text.size(); };
  const std::size_t bytes = 1 + varint_size(file.size) + text_size(file.id) + text_size(file.path) +
                            (flags & kDigestPacked ? 32 : text_size(file.sha256)) + text_size(file.object_key) +
                            (flags & kDefaultType ? 0 : text_size(file.content_type));
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < bytes) {
    const std::size_t capacity = std::max(bytes, kBlockBytes);
    blocks_.push_back({std::make_unique<char[]>(capacity), 0, capacity});
  }
  if (flags & kHasMetadata) metadata_.push_back(file.metadata);
  Block& block = blocks_.back();
  char* at = block.bytes.get() + block.used;
  *at++ = static_cast<char>(flags);
  at = put_varint(at, file.size);
  at = put_text(at, file.id);
  at = put_text(at, file.path);
  if (flags & kDigestPacked) {
    for (std::size_t i = 0; i < 32; ++i)
      *at++ = static_cast<char>(hex_value(file.sha256[2 * i]) << 4 | hex_value(file.sha256[2 * i + 1]));
  } else {
    at = put_text(at, file.sha256);
  }
  at = put_text(at, file.object_key);
  if (!(flags & kDefaultType)) at = put_text(at, file.content_type);
  block.used += bytes;
  ++count_;
}

void ManifestFiles::clear() {
  blocks_.clear();
  metadata_.clear();
  count_ = 0;
}

void ManifestFiles::for_each(const std::function<void(const ManifestFile&)>& visit) const {
  ManifestFile file;
  std::size_t metadata = 0;
  for (const Block& block : blocks_)
    for (const char* at = block.bytes.get(); at != block.bytes.get() + block.used;) {
      const auto flags = static_cast<unsigned char>(*at++);
      at = get_varint(at, file.size);
      at = get_text(at, file.id);
      at = get_text(at, file.path);
      if (flags & kDigestPacked) {
        static constexpr char kDigits[] = "0123456789abcdef";
        file.sha256.resize(64);
        for (std::size_t i = 0; i < 32; ++i) {
          const auto byte = static_cast<unsigned char>(*at++);
          file.sha256[2 * i] = kDigits[byte >> 4];
          file.sha256[2 * i + 1] = kDigits[byte & 15];
        }
      } else {
        at = get_text(at, file.sha256);
      }
      at = get_text(at, file.object_key);
      if (flags & kDefaultType) file.content_type = kDefaultContentType;
      else at = get_text(at, file.content_type);
      if (flags & kHasMetadata) file.metadata = metadata_[metadata++];
      else file.metadata = nullptr;
      visit(file);
    }
}

// ---------------------------------------------------------------------------
// Counts and text

std::uint64_t json_count(std::uint64_t number) noexcept { return number; }

std::uint64_t json_count(std::int64_t number) noexcept { return number < 0 ? 0 : static_cast<std::uint64_t>(number); }

std::uint64_t json_count(double number) noexcept {
  // 2^64 is exact as a double; at or above it the cast would be undefined,
  // so the count saturates. NaN is not above 0.0 and reads as 0.
  constexpr double two_to_the_64 = 18446744073709551616.0;
  if (!(number > 0.0)) return 0;
  if (number >= two_to_the_64) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(number);
}

std::string to_lower_ascii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

// ---------------------------------------------------------------------------
// ManifestReader

// The key whose value comes next, in the manifest's object or a file's.
enum class ManifestReader::Field : unsigned char {
  other, id, id_mod, channel, version, status, manifest_hash, total_size, files, metadata,  // the manifest's
  path, size, sha256, object_key, content_type,                                            // a file's, with id and metadata
};

namespace {

using Field = ManifestReader::Field;

// The manifest's required keys and a file's, as bits of present_ and
// file_present_; a file's optional strings that hold another type are bits
// of their own.
constexpr unsigned bit(Field field) { return 1u << static_cast<unsigned>(field); }
constexpr unsigned kManifestKeys = bit(Field::id) | bit(Field::id_mod) | bit(Field::channel) | bit(Field::version) |
                                   bit(Field::status) | bit(Field::manifest_hash) | bit(Field::total_size) |
                                   bit(Field::files);
constexpr unsigned kFileKeys = bit(Field::path) | bit(Field::size) | bit(Field::sha256);

Field manifest_field(std::string_view key) {
  static const std::pair<std::string_view, Field> fields[] = {
      {"id", Field::id}, {"id_mod", Field::id_mod}, {"channel", Field::channel}, {"version", Field::version},
      {"status", Field::status}, {"manifest_hash", Field::manifest_hash}, {"total_size", Field::total_size},
      {"files", Field::files}, {"metadata", Field::metadata}};
  for (const auto& [name, field] : fields)
    if (key == name) return field;
  return Field::other;
}

Field file_field(std::string_view key) {
  static const std::pair<std::string_view, Field> fields[] = {
      {"id", Field::id}, {"path", Field::path}, {"size", Field::size}, {"sha256", Field::sha256},
      {"object_key", Field::object_key}, {"content_type", Field::content_type}, {"metadata", Field::metadata}};
  for (const auto& [name, field] : fields)
    if (key == name) return field;
  return Field::other;
}

// Whether two of the files' paths are equal after ASCII lower-casing. Found
// through a sort of their hashes, so that a million files need no set of a
// million strings: only paths whose hashes meet are compared.
bool has_duplicate_paths(const ManifestFiles& files) {
  std::vector<std::pair<std::size_t, std::size_t>> hashes;  // hash, index
  hashes.reserve(files.size());
  files.for_each([&](const ManifestFile& file) {
    hashes.emplace_back(std::hash<std::string>()(to_lower_ascii(file.path)), hashes.size());
  });
  std::sort(hashes.begin(), hashes.end());
  std::vector<std::size_t> suspects;
  for (std::size_t i = 1; i < hashes.size(); ++i)
    if (hashes[i].first == hashes[i - 1].first) suspects.push_back(hashes[i - 1].second), suspects.push_back(hashes[i].second);
  if (suspects.empty()) return false;
  std::sort(suspects.begin(), suspects.end());
  std::vector<std::string> paths;
  std::size_t index = 0;
  files.for_each([&](const ManifestFile& file) {
    if (std::binary_search(suspects.begin(), suspects.end(), index++)) paths.push_back(to_lower_ascii(file.path));
  });
  std::sort(paths.begin(), paths.end());
  return std::adjacent_find(paths.begin(), paths.end()) != paths.end();
}

}  // namespace

struct ManifestReader::Scalar {
  enum Type { null, boolean, integer, unsigned_integer, floating, string, other } type = null;
  bool boolean_value = false;
  std::int64_t integer_value = 0;
  std::uint64_t unsigned_value = 0;
  double float_value = 0;
  std::string* text = nullptr;

  std::uint64_t count() const {
    switch (type) {
      case integer: return json_count(integer_value);
      case unsigned_integer: return json_count(unsigned_value);
      case floating: return json_count(float_value);
      default: return 0;
    }
  }
  json value() const {
    switch (type) {
      case boolean: return boolean_value;
      case integer: return integer_value;
      case unsigned_integer: return unsigned_value;
      case floating: return float_value;
      case string: return std::move(*text);
      default: return nullptr;
    }
  }
};

ManifestReader::ManifestReader() = default;
ManifestReader::~ManifestReader() = default;

bool ManifestReader::null() { return scalar({Scalar::null}); }
bool ManifestReader::boolean(bool value) { return scalar({Scalar::boolean, value}); }
bool ManifestReader::number_integer(number_integer_t value) { return scalar({Scalar::integer, false, value}); }
bool ManifestReader::number_unsigned(number_unsigned_t value) {
  return scalar({Scalar::unsigned_integer, false, 0, value});
}
bool ManifestReader::number_float(number_float_t value, const string_t&) {
  return scalar({Scalar::floating, false, 0, 0, value});
}
bool ManifestReader::string(string_t& value) { return scalar({Scalar::string, false, 0, 0, 0, &value}); }
bool ManifestReader::binary(binary_t&) { return scalar({Scalar::other}); }
bool ManifestReader::parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
  return false;
}

bool ManifestReader::key(string_t& value) {
  if (builder_) return builder_->key(value);
  if (skip_ > 0) return true;
  if (depth_ == 1) field_ = manifest_field(value);
  else if (depth_ == 2) member_ = value;  // "files" as an object
  else if (depth_ == 3) field_ = file_field(value);
  return true;
}

bool ManifestReader::start_object(std::size_t) {
  if (builder_) return ++builder_depth_, builder_->start_object(static_cast<std::size_t>(-1));
  return open(true);
}
bool ManifestReader::start_array(std::size_t) {
  if (builder_) return ++builder_depth_, builder_->start_array(static_cast<std::size_t>(-1));
  return open(false);
}

bool ManifestReader::end_object() {
  if (builder_) {
    builder_->end_object();
    if (--builder_depth_ == 0) {
      builder_.reset();
      if (metadata_target_->is_object() && metadata_target_->empty()) *metadata_target_ = nullptr;  // {} is as good as none
    }
    return true;
  }
  return close();
}
bool ManifestReader::end_array() {
  if (builder_) {
    builder_->end_array();
    if (--builder_depth_ == 0) builder_.reset();
    return true;
  }
  return close();
}

bool ManifestReader::scalar(const Scalar& value) {
  if (builder_) {
    switch (value.type) {
      case Scalar::null: return builder_->null();
      case Scalar::boolean: return builder_->boolean(value.boolean_value);
      case Scalar::integer: return builder_->number_integer(value.integer_value);
      case Scalar::unsigned_integer: return builder_->number_unsigned(value.unsigned_value);
      case Scalar::floating: return builder_->number_float(value.float_value, {});
      case Scalar::string: return builder_->string(*value.text);
      case Scalar::other: return builder_->null();
    }
  }
  if (skip_ > 0) return true;
  const bool is_string = value.type == Scalar::string;
  const auto text = [&] { return std::move(*value.text); };
  if (depth_ == 0) {
    refused_ = true;  // a manifest that is no object
  } else if (depth_ == 1) {
    const auto set = [&](std::string& member) {
      present_ = is_string ? present_ | bit(field_) : present_ & ~bit(field_);
      if (is_string) member = text();
    };
    switch (field_) {
      case Field::id: set(manifest_.id); break;
      case Field::id_mod: set(manifest_.id_mod); break;
      case Field::channel: set(manifest_.channel); break;
      case Field::version: set(manifest_.version); break;
      case Field::status: set(manifest_.status); break;
      case Field::manifest_hash: set(manifest_.manifest_hash); break;
      case Field::total_size:
        present_ |= bit(field_);
        manifest_.total_size = value.count();
        break;
      case Field::metadata: manifest_.metadata = value.value(); break;
      case Field::files:
        // null lists none; any other plain value is an element that is no
        // file object.
        present_ |= bit(field_);
        manifest_.files.clear();
        files_refused_ = value.type != Scalar::null;
        break;
      default: break;
    }
  } else if (depth_ == 2) {
    // An element of "files" that is no object.
    if (files_by_key_) keyed_files_[member_].reset();
    else files_refused_ = true;
  } else if (depth_ == 3) {
    const auto set = [&](std::string& member) {
      file_present_ = is_string ? file_present_ | bit(field_) : file_present_ & ~bit(field_);
      if (is_string) member = text();
    };
    const auto set_optional = [&](std::string& member) {
      // Present, it must be a string (null too is refused).
      file_present_ = is_string ? file_present_ & ~bit(field_) : file_present_ | bit(field_);
      if (is_string) member = text();
    };
    switch (field_) {
      case Field::path: set(file_.path); break;
      case Field::sha256: set(file_.sha256); break;
      case Field::size:
        file_present_ |= bit(field_);
        file_.size = value.count();
        break;
      case Field::id: set_optional(file_.id); break;
      case Field::object_key: set_optional(file_.object_key); break;
      case Field::content_type: set_optional(file_.content_type); break;
      case Field::metadata: file_.metadata = value.value(); break;
      default: break;
    }
  }
  return true;
}

bool ManifestReader::open(bool object) {
  if (skip_ > 0) return ++skip_, true;
  json* metadata = depth_ == 1 && field_ == Field::metadata   ? &manifest_.metadata
                   : depth_ == 3 && field_ == Field::metadata ? &file_.metadata
                                                              : nullptr;
  if (metadata) {
    *metadata = nullptr;
    metadata_target_ = metadata;
    builder_ = std::make_unique<nlohmann::detail::json_sax_dom_parser<json>>(*metadata, false);
    builder_depth_ = 1;
    return object ? builder_->start_object(static_cast<std::size_t>(-1))
                  : builder_->start_array(static_cast<std::size_t>(-1));
  }
  bool entered = false;
  if (depth_ == 0) {
    entered = object;
    refused_ = refused_ || !object;
  } else if (depth_ == 1 && field_ == Field::files) {
    present_ |= bit(Field::files);
    manifest_.files.clear();
    keyed_files_.clear();
    files_refused_ = false;
    files_by_key_ = object;
    entered = true;
  } else if (depth_ == 2) {
    if (object) {
      file_ = ManifestFile();
      file_present_ = 0;
      entered = true;
    } else if (files_by_key_) {
      keyed_files_[member_].reset();
    } else {
      files_refused_ = true;
    }
  } else if (depth_ == 1 || depth_ == 3) {
    // Another key's value, or a required key's of the wrong type.
    if (depth_ == 1 && field_ == Field::total_size) present_ |= bit(field_), manifest_.total_size = 0;
    else if (depth_ == 1) present_ &= ~bit(field_);
    if (depth_ == 3) {
      if (field_ == Field::size) file_present_ |= bit(field_), file_.size = 0;
      else if (field_ == Field::id || field_ == Field::object_key || field_ == Field::content_type)
        file_present_ |= bit(field_);
      else file_present_ &= ~bit(field_);
    }
  }
  if (entered) ++depth_;
  else ++skip_;
  return true;
}

bool ManifestReader::close() {
  if (skip_ > 0) return --skip_, true;
  if (depth_ == 3) end_file();
  if (depth_ == 2 && files_by_key_) {
    // An object's member values by key, the last of a repeated key.
    for (const auto& [key, file] : keyed_files_) {
      if (!file) files_refused_ = true;
      if (!files_refused_) manifest_.files.push_back(*file);
    }
    if (files_refused_) manifest_.files.clear();
    keyed_files_.clear();
  }
  --depth_;
  return true;
}

void ManifestReader::end_file() {
  constexpr unsigned wrong = bit(Field::id) | bit(Field::object_key) | bit(Field::content_type);
  std::optional<std::string> path;
  if ((file_present_ & kFileKeys) == kFileKeys && (file_present_ & wrong) == 0)
    path = normalize_relative_path(file_.path);
  if (path) {
    file_.path = std::move(*path);
    file_.sha256 = to_lower_ascii(std::move(file_.sha256));
  }
  if (files_by_key_) {
    keyed_files_[member_] = path ? std::optional<ManifestFile>(std::move(file_)) : std::nullopt;
    return;
  }
  if (!path) {
    files_refused_ = true;
    manifest_.files.clear();
    return;
  }
  if (!files_refused_) manifest_.files.push_back(file_);
}

std::optional<BuildManifest> ManifestReader::take() {
  if (refused_ || files_refused_ || depth_ != 0 || (present_ & kManifestKeys) != kManifestKeys) return std::nullopt;
  if (has_duplicate_paths(manifest_.files)) return std::nullopt;
  return std::move(manifest_);
}

}  // namespace korvanta
