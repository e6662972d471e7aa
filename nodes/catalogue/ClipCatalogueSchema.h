#pragma once
// The clip catalogue's entities and attribute names: the vocabulary of the
// rows the catalogue store reads and writes. A row is a platform::Dictionary
// keyed by attribute names (the "clipInfo..." keys of a clip, the capitalised
// keys of a metadata entry); a missing key is an attribute with no value.
//
// Constants and a fixed table; any thread.

#include <cstdint>
#include <span>
#include <string_view>

#include "nodes/media/ClipInfoKeys.h"
#include "nodes/media/Metadata.h"
#include "platform/Value.h"

namespace nodes {

// One catalogue record: attribute name -> value.
using CatalogueRow = platform::Dictionary;

namespace catalogue {

// Entity (table) names.
inline constexpr const char* kClipEntity = "Clip";
inline constexpr const char* kClipAttributesEntity = "ClipAttributes";
inline constexpr const char* kClipLanguagesEntity = "ClipLanguages";
inline constexpr const char* kMetadataEntity = "Metadata";

// Clip attributes that no playlist item encoding writes.
inline constexpr const char* kZira = "clipInfoZira";              // a live clip (no file)
inline constexpr const char* kVideoCodec = clipinfo::kVideoCodec;  // codec code, any value type

// Side-table keys. ClipAttributes rows: "attributeName", "attributeValue"
// (clipinfo::kAttributeNameKey / kAttributeValueKey) and the clip's ID;
// ClipLanguages rows: "languageCode" and the clip's ID; Metadata rows: the
// four keys of nodes/media/Metadata.h.
inline constexpr const char* kToClipInfoUniqueID = "toClipInfoUniqueID";
inline constexpr const char* kLanguageCode = "languageCode";

// How a Clip attribute is stored and what type its row value has.
enum class AttributeKind {
  Text = 1,     // string
  Integer = 2,  // integer
  Int32 = 3,    // integer within 32 bits
  Real = 4,     // real (floats included)
  Boolean = 5,  // boolean
  Date = 6,     // date; may be absent
  Any = 7,      // string, integer, real, boolean or data, unchanged; may be absent
};

struct ClipAttribute {
  std::string_view name;
  AttributeKind kind;
};

// The 35 attributes of the Clip entity, in the order of the entity's listing.
// Every attribute but the Date and Any ones always has a value in a stored
// row (the empty string, 0 or NO when nothing was written).
std::span<const ClipAttribute> clipAttributes();
// The attribute of that name; nullptr for a name the entity does not have.
const ClipAttribute* clipAttributeNamed(std::string_view name);

// The row's value for `key`; none when the row has none.
const platform::Value& rowValue(const CatalogueRow& row, std::string_view key);

}  // namespace catalogue
}  // namespace nodes
