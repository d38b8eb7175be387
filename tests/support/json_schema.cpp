#include "support/json_schema.h"

#include <cmath>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>

#include "platform/path_text.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace korvanta::testing {
namespace {

using nlohmann::json;

const std::set<std::string> kKeywords = {"type",     "enum",      "const",  "required",  "properties",
                                         "additionalProperties", "items", "minimum", "minLength", "pattern",
                                         "allOf",    "$ref",      "$schema", "$id",      "$defs",
                                         "$comment", "title",     "description", "examples"};

bool has_type(const json& value, const std::string& type) {
  if (type == "null") return value.is_null();
  if (type == "boolean") return value.is_boolean();
  if (type == "object") return value.is_object();
  if (type == "array") return value.is_array();
  if (type == "string") return value.is_string();
  if (type == "number") return value.is_number();
  if (type == "integer") {
    if (value.is_number_integer()) return true;
    if (!value.is_number_float()) return false;
    const double number = value.get<double>();
    return std::isfinite(number) && std::floor(number) == number;
  }
  throw std::invalid_argument("unknown type " + type);
}

// Code points in a UTF-8 string (minLength counts them, not bytes).
std::size_t code_points(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
}

}  // namespace

class Validator {
 public:
  Validator(const json& root, std::wstring directory) : directory_(std::move(directory)) {
    documents_[L""] = std::make_shared<json>(root);
  }

  void check(const json& schema, const json& instance, const std::wstring& document, const std::string& where,
             std::vector<std::string>& errors) {
    if (schema.is_boolean()) {
      if (!schema.get<bool>()) errors.push_back(where + ": not allowed here");
      return;
    }
    if (!schema.is_object()) throw std::invalid_argument("a schema must be an object or a boolean");
    for (const auto& [keyword, value] : schema.items())
      if (!kKeywords.count(keyword)) throw std::invalid_argument("unsupported keyword " + keyword);

    if (const auto it = schema.find("$ref"); it != schema.end()) {
      std::wstring target_document;
      const json& target = resolve(it->get<std::string>(), document, target_document);
      check(target, instance, target_document, where, errors);
    }
    if (const auto it = schema.find("allOf"); it != schema.end())
      for (const json& part : *it) check(part, instance, document, where, errors);
    if (const auto it = schema.find("type"); it != schema.end()) {
      bool matches = false;
      if (it->is_string()) {
        matches = has_type(instance, it->get<std::string>());
      } else {
        for (const json& type : *it) matches = matches || has_type(instance, type.get<std::string>());
      }
      if (!matches) {
        errors.push_back(where + ": is " + instance.type_name() + ", not " + it->dump());
        return;  // the other keywords would only repeat it
      }
    }
    if (const auto it = schema.find("enum"); it != schema.end()) {
      bool found = false;
      for (const json& option : *it) found = found || option == instance;
      if (!found) errors.push_back(where + ": not one of " + it->dump());
    }
    if (const auto it = schema.find("const"); it != schema.end() && *it != instance)
      errors.push_back(where + ": is not " + it->dump());
    if (instance.is_number()) {
      if (const auto it = schema.find("minimum"); it != schema.end() && instance.get<double>() < it->get<double>())
        errors.push_back(where + ": below " + it->dump());
    }
    if (instance.is_string()) {
      const auto& text = instance.get_ref<const std::string&>();
      if (const auto it = schema.find("minLength"); it != schema.end() && code_points(text) < it->get<std::size_t>())
        errors.push_back(where + ": shorter than " + it->dump());
      if (const auto it = schema.find("pattern"); it != schema.end() && !std::regex_search(text, regex(*it)))
        errors.push_back(where + ": does not match " + it->dump());
    }
    if (instance.is_object()) {
      if (const auto it = schema.find("required"); it != schema.end())
        for (const json& key : *it)
          if (!instance.contains(key.get<std::string>()))
            errors.push_back(where + ": lacks \"" + key.get<std::string>() + "\"");
      const json* properties = nullptr;
      if (const auto it = schema.find("properties"); it != schema.end()) properties = &*it;
      const auto additional = schema.find("additionalProperties");
      for (const auto& [key, value] : instance.items()) {
        const std::string inner = where + "/" + key;
        if (properties != nullptr && properties->contains(key)) {
          check(properties->at(key), value, document, inner, errors);
        } else if (additional != schema.end()) {
          check(*additional, value, document, inner, errors);
        }
      }
    }
    if (instance.is_array()) {
      if (const auto it = schema.find("items"); it != schema.end())
        for (std::size_t i = 0; i < instance.size(); ++i)
          check(*it, instance[i], document, where + "/" + std::to_string(i), errors);
    }
  }

  // "#/a/b", "file.json" or "file.json#/a/b", from the document the
  // reference stands in.
  const json& resolve(const std::string& reference, const std::wstring& from, std::wstring& document) {
    const std::size_t hash = reference.find('#');
    const std::string file = reference.substr(0, hash);
    const std::string pointer = hash == std::string::npos ? "" : reference.substr(hash + 1);
    document = file.empty() ? from : platform::utf8_to_wide(file);
    const json& root = load(document);
    try {
      return root.at(json::json_pointer(pointer));
    } catch (const json::exception&) {
      throw std::invalid_argument("unresolvable $ref " + reference);
    }
  }

  const std::regex& regex(const json& pattern) {
    const std::string& text = pattern.get_ref<const std::string&>();
    auto it = patterns_.find(text);
    if (it == patterns_.end()) it = patterns_.emplace(text, std::regex(text)).first;
    return it->second;
  }

  const json& load(const std::wstring& document) {
    auto& slot = documents_[document];
    if (!slot) {
      if (directory_.empty()) throw std::invalid_argument("no directory to resolve a $ref to another file in");
      slot = std::make_shared<json>(json::parse(read_file(platform::path_text::join(directory_, document))));
    }
    return *slot;
  }

 private:
  std::wstring directory_;
  std::map<std::wstring, std::shared_ptr<json>> documents_;
  std::map<std::string, std::regex> patterns_;
};

JsonSchema JsonSchema::load(const std::wstring& path) {
  return JsonSchema(json::parse(read_file(path)), platform::path_text::parent_path(path));
}

JsonSchema::JsonSchema(json schema, std::wstring directory) : schema_(std::move(schema)), directory_(std::move(directory)) {}

std::vector<std::string> JsonSchema::validate(const json& instance) const { return validate(instance, ""); }

std::vector<std::string> JsonSchema::validate(const json& instance, const std::string& pointer) const {
  if (!validator_) validator_ = std::make_shared<Validator>(schema_, directory_);
  std::vector<std::string> errors;
  validator_->check(schema_.at(json::json_pointer(pointer)), instance, L"", "", errors);
  return errors;
}

}  // namespace korvanta::testing
