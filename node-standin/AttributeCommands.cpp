// Clip attributes: "atattributenames", "atlastchangenumber",
// "atattributechangessince" and "atattributeinfo". The node declares a small
// fixed set, as one plug-in would; it never changes, so its change number
// stays at 1 and the change list is empty.

#include <array>

#include "node-standin/CommandTable.h"

namespace standin {
namespace {

using platform::Value;

constexpr const char* kPluginName = "Stand-in Playout";
constexpr std::uint64_t kAttributesChangeNumber = 1;

struct AttributeDeclaration {
  const char* name;
  const char* type;  // "MultipleValues" offers possibleValues
  const char* defaultValue;
  std::array<const char*, 5> possibleValues;  // unused slots are nullptr
};

constexpr AttributeDeclaration kAttributes[] = {
    {"Clip End Behaviour", "MultipleValues", "Normal",
     {"Normal", "Chain", "Loop", "Stop At End", "Hold Last Frame"}},
    {"Alpha Key", "MultipleValues", "Off", {"Off", "On", nullptr, nullptr, nullptr}},
    {"Audio Volume", "Number", "1.0", {nullptr, nullptr, nullptr, nullptr, nullptr}},
};

platform::Dictionary attributeInfo(const AttributeDeclaration& attribute) {
  platform::Dictionary info{
      {"attributeName", Value(attribute.name)},
      {"attributeDisplayName", Value(attribute.name)},
      {"attributePluginName", Value(kPluginName)},
      {"attributeType", Value(attribute.type)},
      {"attributeDefaultValue", Value(attribute.defaultValue)},
      // Clients may write attributes the node declares as outputs.
      {"attributeDirection", Value("Output")},
  };
  platform::Array values;
  for (const char* value : attribute.possibleValues) {
    if (value) values.emplace_back(value);
  }
  if (!values.empty()) info.emplace("attributePossibleValues", Value(std::move(values)));
  return info;
}

platform::Result<Reply> attributeNames(CommandContext&) {
  platform::Array names;
  for (const AttributeDeclaration& attribute : kAttributes) names.emplace_back(attribute.name);
  return Reply::propertyList(Value(std::move(names)));
}

platform::Result<Reply> lastChangeNumber(CommandContext&) {
  return Reply::text(std::to_string(kAttributesChangeNumber));
}

platform::Result<Reply> changesSince(CommandContext& context) {
  // Clients write the number as a signed 32-bit "%i".
  std::optional<std::string_view> numberText = context.arguments.word();
  if (numberText && numberText->starts_with('-')) numberText->remove_prefix(1);
  if (!numberText || !parseUnsigned(*numberText) || !noMoreArguments(context)) {
    return badArguments("atattributechangessince");
  }
  return Reply::propertyList(Value(platform::Array{}));
}

// The name is the rest of the line: attribute names hold blanks.
platform::Result<Reply> info(CommandContext& context) {
  const std::string_view name = context.arguments.rest();
  if (name.empty()) return badArguments("atattributeinfo");
  for (const AttributeDeclaration& attribute : kAttributes) {
    if (name == attribute.name) return Reply::propertyList(Value(attributeInfo(attribute)));
  }
  return commandError(NodeCommandErrorCode::UnknownObject, "no attribute " + std::string(name));
}

constexpr CommandEntry kCommands[] = {
    {"atattributenames", CommandAccess::Query, attributeNames},
    {"atlastchangenumber", CommandAccess::Query, lastChangeNumber},
    {"atattributechangessince", CommandAccess::Query, changesSince},
    {"atattributeinfo", CommandAccess::Query, info},
};

}  // namespace

std::span<const CommandEntry> attributeCommands() { return kCommands; }

}  // namespace standin
