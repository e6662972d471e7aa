#include "nodes/link/NodeMediaReplies.h"

#include <cfloat>
#include <cstdio>
#include <limits>
#include <set>

#include "nodes/media/ClipInfoKeys.h"
#include "nodes/media/DictionaryFieldReader.h"
#include "platform/Diagnostics.h"

namespace nodes::detail {
namespace {

constexpr std::size_t kMaxLoggedTextLength = 120;

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool isBlank(unsigned char c) { return c == ' '; }

bool hasAcceptableLength(std::string_view text) { return !text.empty() && text.size() <= kMaxNodeWordLength; }

template <typename T>
void assignIfSet(T& field, std::optional<T>&& value) {
  if (value) field = std::move(*value);
}

template <typename Field, typename Read>
void assignNumberIfSet(Field& field, const std::optional<Read>& value) {
  if (value) field = static_cast<Field>(*value);
}

}  // namespace

void logNodeReplyProblem(const std::string& line) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, line);
}

std::string escapedForLog(std::string_view text) {
  std::string escaped;
  for (std::size_t i = 0; i < text.size() && i < kMaxLoggedTextLength; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (isControl(c)) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", c);
      escaped += code;
    } else {
      escaped += static_cast<char>(c);
    }
  }
  if (text.size() > kMaxLoggedTextLength) escaped += "...";
  return escaped;
}

bool isNodeCommandWord(std::string_view text) {
  if (!hasAcceptableLength(text)) return false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isControl(byte) || isBlank(byte)) return false;
  }
  return true;
}

bool isNodeCommandText(std::string_view text) {
  if (!hasAcceptableLength(text)) return false;
  for (const char c : text) {
    if (isControl(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::optional<std::uint64_t> readChangeNumber(std::string_view reply, std::uint64_t max) {
  if (reply.empty() || reply.size() > std::numeric_limits<std::uint64_t>::digits10) return std::nullopt;
  std::uint64_t number = 0;
  for (const char c : reply) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');  // 19 digits cannot overflow
  }
  if (number > max) return std::nullopt;
  return number;
}

std::optional<std::vector<std::string>> readNameList(const platform::Value& reply, std::string_view what,
                                                     bool (*accept)(std::string_view)) {
  const platform::Array* array = reply.array();
  if (!array) {
    logNodeReplyProblem(std::string(what) + ": expected an array, received " + reply.describe());
    return std::nullopt;
  }
  std::vector<std::string> names;
  std::set<std::string, std::less<>> seen;
  for (const platform::Value& element : *array) {
    const std::string* name = element.string();
    if (!name || !accept(*name)) {
      logNodeReplyProblem(std::string(what) + ": skipped the entry " +
                          (name ? "\"" + escapedForLog(*name) + "\"" : element.describe()));
      continue;
    }
    if (seen.insert(*name).second) names.push_back(*name);
  }
  return names;
}

std::vector<NodeMediaItemChange> readMediaItemChanges(const platform::Array& changes, std::string_view what) {
  std::vector<NodeMediaItemChange> read;
  for (const platform::Value& change : changes) {
    const std::string* type = change["changeType"].string();
    const std::string* id = change["mediaItemUniqueID"].string();
    if (!type || !id || !isNodeCommandWord(*id)) {
      logNodeReplyProblem(std::string(what) + ": skipped the change " + escapedForLog(change.describe()));
      continue;
    }
    read.push_back({*type, *id});
  }
  return read;
}

std::vector<NodeAttributeChange> readAttributeChanges(const platform::Array& changes, std::string_view what) {
  std::vector<NodeAttributeChange> read;
  for (const platform::Value& change : changes) {
    const std::string* type = change["changeType"].string();
    const std::string* name = change["attributeName"].string();
    if (!type || !name || !isNodeCommandText(*name)) {
      logNodeReplyProblem(std::string(what) + ": skipped the change " + escapedForLog(change.describe()));
      continue;
    }
    read.push_back({*type, *name, *change.dictionary()});
  }
  return read;
}

platform::Status fillMediaItemFromNodeInfo(MediaItem& item, const platform::Dictionary& info,
                                           const std::string& nodeName, const std::string& nodeUniqueID) {
  constexpr auto kInt32Min = std::numeric_limits<std::int32_t>::min();
  constexpr auto kInt32Max = std::numeric_limits<std::int32_t>::max();
  constexpr double kDoubleMax = std::numeric_limits<double>::max();
  DictionaryFieldReader read(info, "MediaItem " + escapedForLog(item.uniqueID().value_or("")));

  auto absolutePath = read.string(clipinfo::kAbsolutePathToMediaItem);
  auto relativePath = read.string(clipinfo::kRelativePathToMediaItem);
  auto lastModificationDate = read.date(clipinfo::kLastModificationDate);
  auto languages = read.stringArray(clipinfo::kLanguages);
  auto displayName = read.string(clipinfo::kDisplayName);
  auto validationStatus = read.integer(clipinfo::kValidationStatus, kInt32Min, kInt32Max);
  auto invalidReason = read.integer(clipinfo::kInvalidReason, kInt32Min, kInt32Max);
  auto duration = read.real(clipinfo::kDurationInSeconds, 0, kDoubleMax);
  auto framesPerSecond = read.real(clipinfo::kFramesPerSecond, 0, kDoubleMax);
  auto dropFrame = read.boolean(clipinfo::kDropFrame);
  auto videoCodec = read.integer(clipinfo::kVideoCodec, 0, std::numeric_limits<std::uint32_t>::max());
  auto videoCodecDescription = read.string(clipinfo::kVideoCodecDescription);
  auto finderLabelIndex = read.integer(clipinfo::kFinderLabelIndex, std::numeric_limits<std::int64_t>::min(),
                                       std::numeric_limits<std::int64_t>::max());
  auto finderLabelName = read.string(clipinfo::kFinderLabelName);
  auto naturalWidth = read.real(clipinfo::kNaturalVideoSizeWidth, 0, FLT_MAX);
  auto naturalHeight = read.real(clipinfo::kNaturalVideoSizeHeight, 0, FLT_MAX);
  auto startTimeCode = read.string(clipinfo::kStartTimeCode);
  auto mediaFolderPath = read.string(clipinfo::kMediaFolderPath);
  auto metadata = read.dictionary(clipinfo::kMetadata);

  item.update([&](MediaItemInfo& fields) {
    if (absolutePath) fields.absolutePath = std::move(absolutePath);
    if (relativePath) fields.relativePath = std::move(relativePath);
    if (lastModificationDate) fields.lastModificationDate = lastModificationDate;
    assignIfSet(fields.languagesArray, std::move(languages));
    if (displayName) fields.displayName = std::move(displayName);
    assignNumberIfSet(fields.validationStatus, validationStatus);
    assignNumberIfSet(fields.invalidReason, invalidReason);
    assignIfSet(fields.durationInSeconds, std::move(duration));
    assignIfSet(fields.framesPerSecond, std::move(framesPerSecond));
    assignIfSet(fields.dropFrame, std::move(dropFrame));
    assignNumberIfSet(fields.videoCodec, videoCodec);
    assignIfSet(fields.videoCodecDescription, std::move(videoCodecDescription));
    assignIfSet(fields.finderLabelIndex, std::move(finderLabelIndex));
    assignIfSet(fields.finderLabelName, std::move(finderLabelName));
    assignNumberIfSet(fields.naturalVideoSizeWidth, naturalWidth);
    assignNumberIfSet(fields.naturalVideoSizeHeight, naturalHeight);
    fields.nodeName = nodeName;
    fields.nodeUniqueID = nodeUniqueID;
    fields.initialized = true;
    assignIfSet(fields.startTimeCode, std::move(startTimeCode));
    if (mediaFolderPath) fields.mediaFolderPath = std::move(mediaFolderPath);
    assignIfSet(fields.nodeMetadataDict, std::move(metadata));
  });
  return read.status();
}

platform::Status fillAttributeFromNodeInfo(Attribute& attribute, const platform::Dictionary& info) {
  DictionaryFieldReader read(info, "Attribute " + escapedForLog(attribute.name().value_or("")));
  auto pluginName = read.string("attributePluginName");
  auto displayName = read.string("attributeDisplayName");
  auto defaultValue = read.string("attributeDefaultValue");
  auto direction = read.string("attributeDirection");
  auto valueType = read.string("attributeType");
  std::optional<std::vector<std::string>> possibleValues;
  if (valueType == "MultipleValues") possibleValues = read.stringArray("attributePossibleValues");

  // The attribute's own dictionary form, so its fields change in one step.
  platform::Dictionary fields{{"isWritable", platform::Value(direction == "Output")}};
  if (pluginName) fields["pluginName"] = std::move(*pluginName);
  if (displayName) fields["displayName"] = std::move(*displayName);
  if (defaultValue) fields["attributeDefaultValue"] = std::move(*defaultValue);
  if (valueType) fields["attributeType"] = std::move(*valueType);
  if (possibleValues) {
    platform::Array values(possibleValues->begin(), possibleValues->end());
    fields["attributePossibleValues"] = std::move(values);
  }
  (void)attribute.setValuesFromDictionary(fields);  // every value was checked above
  return read.status();
}

}  // namespace nodes::detail
