#include "control/websocket/JsonObjectReader.h"

#include <simdjson.h>

namespace control {
namespace {

nlohmann::json treeOf(simdjson::dom::element element) {
  using Type = simdjson::dom::element_type;
  switch (element.type()) {
    case Type::OBJECT: {
      nlohmann::json object = nlohmann::json::object();
      simdjson::dom::object fields;
      if (element.get(fields) != simdjson::SUCCESS) return object;
      // A repeated key keeps its last value, as nlohmann's reader does.
      for (auto field : fields) object[std::string(field.key)] = treeOf(field.value);
      return object;
    }
    case Type::ARRAY: {
      nlohmann::json array = nlohmann::json::array();
      simdjson::dom::array items;
      if (element.get(items) != simdjson::SUCCESS) return array;
      for (auto item : items) array.push_back(treeOf(item));
      return array;
    }
    case Type::STRING:
      return std::string(element.get_string().value_unsafe());
    case Type::INT64: {
      // nlohmann reads a number without a sign as unsigned.
      const std::int64_t value = element.get_int64().value_unsafe();
      if (value >= 0) return static_cast<std::uint64_t>(value);
      return value;
    }
    case Type::UINT64:
      return element.get_uint64().value_unsafe();
    case Type::DOUBLE:
      return element.get_double().value_unsafe();
    case Type::BOOL:
      return element.get_bool().value_unsafe();
    case Type::NULL_VALUE:
      break;
  }
  return nullptr;
}

}  // namespace

struct JsonObjectReader::Parser {
  simdjson::dom::parser dom;
};

JsonObjectReader::JsonObjectReader() : parser_(std::make_unique<Parser>()) {}

JsonObjectReader::~JsonObjectReader() = default;

std::optional<nlohmann::json> JsonObjectReader::readObject(std::string_view text) {
  simdjson::dom::element root;
  if (parser_->dom.parse(text.data(), text.size()).get(root) == simdjson::SUCCESS) {
    if (root.type() != simdjson::dom::element_type::OBJECT) return std::nullopt;
    return treeOf(root);
  }
  nlohmann::json tree = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!tree.is_object()) return std::nullopt;
  return tree;
}

}  // namespace control
