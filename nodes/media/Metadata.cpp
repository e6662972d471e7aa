#include "nodes/media/Metadata.h"

namespace nodes {

namespace {
constexpr const char* kRowKeys[] = {kMetadataClipUniqueIDKey, kMetadataKeyKey, kMetadataTypeKey, kMetadataValueKey};
}  // namespace

Metadata Metadata::fromRow(const platform::Dictionary& row) {
  Metadata metadata;
  auto text = [&](const char* key) { return row.contains(key) ? row.at(key).stringOr("") : std::string(); };
  metadata.clipUniqueID_ = text(kMetadataClipUniqueIDKey);
  metadata.key_ = text(kMetadataKeyKey);
  metadata.type_ = text(kMetadataTypeKey);
  metadata.value_ = text(kMetadataValueKey);
  return metadata;
}

platform::Dictionary Metadata::row() const {
  return platform::Dictionary{
      {kMetadataTypeKey, type_},
      {kMetadataClipUniqueIDKey, clipUniqueID_},
      {kMetadataKeyKey, key_},
      {kMetadataValueKey, value_},
  };
}

std::optional<std::string> Metadata::label() { return label(metadataDisplayNames()); }

std::optional<std::string> Metadata::label(const MetadataNameTable& displayNames) {
  if (key_.empty()) {
    label_ = std::string();
  } else if (auto it = displayNames.find(key_); it != displayNames.end()) {
    label_ = it->second;
  } else {
    label_ = std::nullopt;
  }
  return label_;
}

void Metadata::encode(platform::KeyedArchiveEncoder& encoder) const {
  for (auto& [key, value] : row()) encoder.encodeValue(key, value);
}

platform::Result<std::shared_ptr<platform::Archivable>> Metadata::decode(
    const platform::KeyedArchiveDecoder& decoder) {
  platform::Dictionary row;
  for (const char* key : kRowKeys) {
    if (!decoder.contains(key)) continue;
    platform::Result<platform::Value> value = decoder.requireValue(key, platform::Value::Type::String);
    if (!value.ok()) return value.error();
    row[key] = std::move(*value);
  }
  return std::shared_ptr<platform::Archivable>(std::make_shared<Metadata>(fromRow(row)));
}

void Metadata::registerArchiveClass(platform::KeyedArchiveRegistry& registry) {
  registry.registerClass(kClassName, &Metadata::decode);
}

}  // namespace nodes
