#pragma once
// The build manifest: one build of a mod as it lies in an installation, and
// its JSON form (read and written only here). A manifest can list a million
// files in a 32-bit process, so its files are kept packed and its JSON is
// read from the parser's events, never as a document.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace korvanta {

inline constexpr const char* kDefaultContentType = "application/octet-stream";

struct ManifestFile {
  std::string id;
  std::string path;  // normalize_relative_path form
  std::uint64_t size = 0;
  std::string sha256;  // ASCII lower case
  std::string object_key;
  std::string content_type = kDefaultContentType;
  nlohmann::json metadata;  // null when there is none; written as {}
};

// A manifest's files in their order, each packed into one record in blocks
// of 256 KiB: about its text's size, with no allocation of its own, and no
// block that must grow in one piece.
class ManifestFiles {
 public:
  void push_back(const ManifestFile& file);
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  void clear();
  // Calls visit for each file in order; the file lives until visit returns.
  void for_each(const std::function<void(const ManifestFile&)>& visit) const;

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0, capacity = 0;
  };
  std::vector<Block> blocks_;
  std::vector<nlohmann::json> metadata_;  // the files' that have any, in order
  std::size_t count_ = 0;
};

struct BuildManifest {
  std::string id;
  std::string id_mod;
  std::string channel;
  std::string version;
  std::string status;
  std::string manifest_hash;
  std::uint64_t total_size = 0;
  nlohmann::json metadata;  // null when there is none; written as {}
  ManifestFiles files;
};

// A JSON number as an unsigned 64-bit count: unsigned as is; negative -> 0;
// floating point truncated toward zero, negative (or NaN) -> 0, at or above
// 2^64 (which includes integers too large for 64 bits, held as floating point
// by the parser) -> 18446744073709551615 (saturated). Any other JSON value
// counts 0.
std::uint64_t json_count(std::uint64_t number) noexcept;
std::uint64_t json_count(std::int64_t number) noexcept;
std::uint64_t json_count(double number) noexcept;

// Lowers the ASCII letters A-Z only; every other byte unchanged.
std::string to_lower_ascii(std::string text);

// Reads one manifest from the JSON parser's events for its value (nlohmann's
// SAX interface: feed it with json::sax_parse, or forward the events of a
// larger document). Of a value that is not an object, or an object that
// lacks "id", "id_mod", "channel", "version", "status" or "manifest_hash"
// as strings, "total_size" or "files", whose optional string keys hold
// another type (null included), or whose "files" are not a list of file
// objects (an array, an object's member values by key, or null for none)
// each with "path" and "sha256" strings and a "size", take() gives nothing;
// so too for a path that normalize_relative_path refuses and two paths equal
// after ASCII lower-casing. Metadata of any type is kept ({} as none). Where
// a key repeats, the last one counts. Other keys are ignored.
class ManifestReader final : public nlohmann::json_sax<nlohmann::json> {
 public:
  ManifestReader();
  ~ManifestReader() override;

  bool null() override;
  bool boolean(bool value) override;
  bool number_integer(number_integer_t value) override;
  bool number_unsigned(number_unsigned_t value) override;
  bool number_float(number_float_t value, const string_t& text) override;
  bool string(string_t& value) override;
  bool binary(binary_t& value) override;
  bool start_object(std::size_t elements) override;
  bool key(string_t& value) override;
  bool end_object() override;
  bool start_array(std::size_t elements) override;
  bool end_array() override;
  bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& error) override;

  // Once the value's last event is in: the manifest, or nothing when it is
  // refused. Spends the reader.
  std::optional<BuildManifest> take();

  enum class Field : unsigned char;  // the keys read (defined with the reader's code)

 private:
  struct Scalar;
  bool scalar(const Scalar& value);
  bool open(bool object);
  bool close();
  void end_file();

  BuildManifest manifest_;
  bool refused_ = false;
  bool files_refused_ = false;
  unsigned present_ = 0;  // the required keys of the manifest seen with a value of their type
  unsigned file_present_ = 0;
  std::size_t depth_ = 0;  // of the innermost open container; the manifest's object is 1
  std::size_t skip_ = 0;   // containers open inside a value that is not read
  Field field_{};          // the key whose value comes next
  bool files_by_key_ = false;  // "files" is an object
  std::string member_;         // its member's key
  std::map<std::string, std::optional<ManifestFile>> keyed_files_;  // nothing: an element refused
  ManifestFile file_;
  // Metadata being built, when it is an array or an object.
  nlohmann::json* metadata_target_ = nullptr;
  std::unique_ptr<nlohmann::detail::json_sax_dom_parser<nlohmann::json>> builder_;
  std::size_t builder_depth_ = 0;
};

}  // namespace korvanta
