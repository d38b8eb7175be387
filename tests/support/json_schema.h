#pragma once
// A validator for the JSON Schema keywords that schemas/*.schema.json use, and
// no others (a schema with another keyword is refused, so it cannot silently
// check less than it says): type, enum, const, required, properties,
// additionalProperties, items, minimum, minLength, pattern, allOf, $ref
// ("#/..." within the schema, "<file>" or "<file>#/..." beside it), and the
// annotations $schema, $id, $defs, $comment, title, description, examples.
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace korvanta::testing {

class Validator;

class JsonSchema {
 public:
  // A schema file; "$ref"s to other files are resolved in its directory.
  static JsonSchema load(const std::wstring& path);
  // A schema held in memory; "$ref"s name schemas added with add_document.
  explicit JsonSchema(nlohmann::json schema, std::wstring directory = {});

  // Violations, each as "<JSON pointer of the instance>: <what is wrong>";
  // empty when the instance conforms. Throws std::invalid_argument for an
  // unknown keyword or an unresolvable $ref.
  std::vector<std::string> validate(const nlohmann::json& instance) const;
  // The same against the subschema at a JSON pointer ("/$defs/written").
  std::vector<std::string> validate(const nlohmann::json& instance, const std::string& pointer) const;

 private:
  nlohmann::json schema_;
  std::wstring directory_;
  mutable std::shared_ptr<Validator> validator_;  // files and patterns it has read, kept between calls
};

}  // namespace korvanta::testing
