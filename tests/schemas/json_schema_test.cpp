// The small JSON Schema validator the schema tests rely on: each keyword it
// knows accepts and refuses what the standard says, and it refuses keywords
// it does not know rather than ignoring them.
#include "support/json_schema.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace korvanta {
namespace {

using nlohmann::json;
using testing::JsonSchema;

struct Case {
  const char* schema;
  const char* instance;
  bool valid;
};

TEST(JsonSchema, EachKeywordAcceptsAndRefusesAsStandardised) {
  const Case cases[] = {
      {R"({"type": "string"})", R"("x")", true},
      {R"({"type": "string"})", R"(1)", false},
      {R"({"type": ["array", "null"]})", R"(null)", true},
      {R"({"type": ["array", "null"]})", R"({})", false},
      {R"({"type": "integer"})", R"(3)", true},
      {R"({"type": "integer"})", R"(3.0)", true},
      {R"({"type": "integer"})", R"(3.5)", false},
      {R"({"type": "integer"})", R"(18446744073709551615)", true},
      {R"({"type": "number"})", R"(-2.5)", true},
      {R"({"type": "number"})", R"("2")", false},
      {R"({"type": "boolean"})", R"(false)", true},
      {R"({"type": "object"})", R"([])", false},
      {R"({"enum": [1, "a"]})", R"("a")", true},
      {R"({"enum": [1, "a"]})", R"("b")", false},
      {R"({"const": {"k": [1]}})", R"({"k": [1]})", true},
      {R"({"const": {"k": [1]}})", R"({"k": [2]})", false},
      {R"({"minimum": 0})", R"(0)", true},
      {R"({"minimum": 0})", R"(-1)", false},
      {R"({"minimum": 0})", R"("-1")", true},
      {R"({"minLength": 2})", R"("\u00e9\u00e9")", true},
      {R"({"minLength": 3})", R"("\u00e9\u00e9")", false},
      {R"({"pattern": "^[0-9a-f]{4}$"})", R"("0a9f")", true},
      {R"({"pattern": "^[0-9a-f]{4}$"})", R"("0a9F")", false},
      {R"({"pattern": "b"})", R"("abc")", true},
      {R"({"pattern": "^[^\\u0000]*$"})", R"("a\u0000b")", false},
      {R"({"pattern": "^[^\\u0000]*$"})", R"("ab")", true},
      {R"({"required": ["a", "b"]})", R"({"a": 1, "b": null})", true},
      {R"({"required": ["a", "b"]})", R"({"a": 1})", false},
      {R"({"required": ["a"]})", R"([1])", true},
      {R"({"properties": {"a": {"type": "string"}}})", R"({"a": "x", "b": 1})", true},
      {R"({"properties": {"a": {"type": "string"}}})", R"({"a": 1})", false},
      {R"({"properties": {"a": true}, "additionalProperties": false})", R"({"a": 1})", true},
      {R"({"properties": {"a": true}, "additionalProperties": false})", R"({"a": 1, "b": 2})", false},
      {R"({"additionalProperties": {"type": "integer"}})", R"({"x": 1, "y": 2})", true},
      {R"({"additionalProperties": {"type": "integer"}})", R"({"x": 1, "y": "2"})", false},
      {R"({"items": {"type": "string"}})", R"(["a", "b"])", true},
      {R"({"items": {"type": "string"}})", R"(["a", 2])", false},
      {R"({"allOf": [{"type": "string"}, {"minLength": 2}]})", R"("ab")", true},
      {R"({"allOf": [{"type": "string"}, {"minLength": 2}]})", R"("a")", false},
      {R"({"$defs": {"n": {"type": "null"}}, "items": {"$ref": "#/$defs/n"}})", R"([null])", true},
      {R"({"$defs": {"n": {"type": "null"}}, "items": {"$ref": "#/$defs/n"}})", R"([0])", false},
      {R"({"items": {"$ref": "#"}, "type": "array"})", R"([[[]]])", true},
      {R"({"items": {"$ref": "#"}, "type": "array"})", R"([[1]])", false},
      {R"(false)", R"(1)", false},
      {R"({"title": "t", "description": "d", "$comment": "c", "examples": [1]})", R"(1)", true},
  };
  for (const auto& c : cases) {
    const JsonSchema schema{json::parse(c.schema)};
    const auto errors = schema.validate(json::parse(c.instance));
    EXPECT_EQ(errors.empty(), c.valid) << c.schema << " on " << c.instance;
  }
}

TEST(JsonSchema, ReportsWhereTheInstanceIsWrong) {
  const JsonSchema schema{json::parse(R"({"properties": {"files": {"items": {"required": ["path"]}}}})")};
  const auto errors = schema.validate(json::parse(R"({"files": [{"path": 1}, {}]})"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "/files/1: lacks \"path\"");
}

TEST(JsonSchema, RefusesKeywordsItDoesNotKnowAndReferencesItCannotResolve) {
  for (const char* schema : {R"({"maxLength": 3})", R"({"oneOf": []})", R"({"items": {"format": "uri"}})",
                             R"({"$ref": "#/$defs/missing"})", R"({"$ref": "other.json"})"}) {
    EXPECT_THROW(JsonSchema{json::parse(schema)}.validate(json::parse("[1]")), std::invalid_argument) << schema;
  }
}

}  // namespace
}  // namespace korvanta
