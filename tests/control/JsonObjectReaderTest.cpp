// The message reader must give the tree nlohmann's own parse gives, number
// types included, for valid and invalid texts alike.
#include "control/websocket/JsonObjectReader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

// Equal values and equal types all the way down (nlohmann's == takes 5 and 5u as equal).
bool sameTree(const nlohmann::json& a, const nlohmann::json& b) {
  if (a.type() != b.type()) return false;
  if (a.is_object()) {
    if (a.size() != b.size()) return false;
    for (auto it = a.begin(); it != a.end(); ++it) {
      if (!b.contains(it.key()) || !sameTree(it.value(), b.at(it.key()))) return false;
    }
    return true;
  }
  if (a.is_array()) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!sameTree(a[i], b[i])) return false;
    }
    return true;
  }
  return a == b || (a.is_number_float() && a.get<double>() != a.get<double>() && b.get<double>() != b.get<double>());
}

std::string nested(int depth) { return "{\"d\":" + std::string(depth, '[') + std::string(depth, ']') + "}"; }

TEST(JsonObjectReaderTest, GivesWhatNlohmannGivesForEveryText) {
  const std::string rows[] = {
      R"({"a":1})",
      R"({"x":-5,"y":5,"z":1.5,"e":1E2,"f":-0.0,"t":true,"n":null})",
      R"({"big":18446744073709551615,"bigger":123456789012345678901234567890,"min":-9223372036854775808})",
      R"({"inf":1e400})",
      R"({"k":1,"k":2})",
      R"({"s":"caf\u00e9 \ud83d\ude00 \"q\" \n","o":{"a":[1,{"b":[]}]}})",
      " \t{\"space\" : [ 1 , 2 ] }\n",
      nested(1500),
      R"([1,2])",
      R"("text")",
      "42",
      "",
      R"({"a":)",
      R"({"a":1} x)",
      R"({'a':1})",
      "{\"s\":\"\xff\"}",
      "{\"s\":\"a\x01\"}",
  };
  control::JsonObjectReader reader;
  for (const std::string& text : rows) {
    SCOPED_TRACE(text.substr(0, 80));
    const nlohmann::json expected = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    const std::optional<nlohmann::json> read = reader.readObject(text);
    ASSERT_EQ(read.has_value(), expected.is_object());
    if (read) {
      EXPECT_TRUE(sameTree(*read, expected)) << read->dump() << " vs " << expected.dump();
    }
  }
  // The one difference: an integer zero written with a sign keeps its value, not its signed type.
  EXPECT_EQ(reader.readObject(R"({"m":-0})"), nlohmann::json::parse(R"({"m":-0})"));
}

}  // namespace
