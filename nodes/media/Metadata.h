#pragma once
// Metadata: one metadata entry of one clip (a key the node reported for the
// media file, its value as text and the value's type name). Stored as a row
// of the catalogue, carried in a playlist item's metadataArray, listed by the
// clip inspector. A plain value; used on the main thread.
//
// Row and dictionary keys: "ClipInfoUniqueID", "Key", "Type", "Value".

#include <memory>
#include <optional>
#include <string>

#include "nodes/media/MetadataResources.h"
#include "platform/Bundle.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Value.h"

namespace nodes {

inline constexpr const char* kMetadataClipUniqueIDKey = "ClipInfoUniqueID";
inline constexpr const char* kMetadataKeyKey = "Key";
inline constexpr const char* kMetadataTypeKey = "Type";
inline constexpr const char* kMetadataValueKey = "Value";

// Type names of a metadata value.
inline constexpr const char* kMetadataTypeString = "NSString";
inline constexpr const char* kMetadataTypeNumber = "NSNumber";
inline constexpr const char* kMetadataTypeUnknown = "Unknow";

class Metadata final : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "Metadata";

  Metadata() = default;  // every field empty

  // initWithNodeMetadataDict / initWithCoreDataEntity: the four fields from
  // a row dictionary; a key that is missing or not a string leaves "".
  static Metadata fromRow(const platform::Dictionary& row);
  platform::Dictionary row() const;

  const std::string& clipUniqueID() const { return clipUniqueID_; }
  void setClipUniqueID(std::string v) { clipUniqueID_ = std::move(v); }
  const std::string& key() const { return key_; }
  void setKey(std::string v) { key_ = std::move(v); }
  const std::string& type() const { return type_; }
  void setType(std::string v) { type_ = std::move(v); }
  const std::string& value() const { return value_; }
  void setValue(std::string v) { value_ = std::move(v); }

  // The display name of the key from the main bundle's "MetadataToDisplayName",
  // read afresh: none when the table has no entry for the key (or there is no
  // table), "" when the key is empty. Stored as the label and returned.
  std::optional<std::string> label();
  std::optional<std::string> label(const MetadataNameTable& displayNames);
  // The label last stored (not archived, not stored in rows).
  const std::optional<std::string>& storedLabel() const { return label_; }
  void setLabel(std::optional<std::string> label) { label_ = std::move(label); }

  // Keyed archiving of the four row fields (no label).
  std::string className() const override { return kClassName; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  // Missing keys read as ""; a key that is not a string refuses the archive.
  static platform::Result<std::shared_ptr<platform::Archivable>> decode(const platform::KeyedArchiveDecoder& decoder);
  static void registerArchiveClass(platform::KeyedArchiveRegistry& registry = platform::KeyedArchiveRegistry::shared());

  friend bool operator==(const Metadata& a, const Metadata& b) {
    return a.clipUniqueID_ == b.clipUniqueID_ && a.key_ == b.key_ && a.type_ == b.type_ && a.value_ == b.value_;
  }

 private:
  std::string clipUniqueID_;
  std::string key_;
  std::string type_;
  std::string value_;
  std::optional<std::string> label_ = std::string();
};

}  // namespace nodes
