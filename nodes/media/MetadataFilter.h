#pragma once
// MetadataFilter: the conversions of clip metadata between a node's metadata
// dictionary, the catalogue's row form and the display form. Class operations
// only; stateless, safe on any thread.

#include <string_view>
#include <vector>

#include "nodes/media/MetadataResources.h"
#include "platform/Value.h"

namespace nodes {

class MetadataFilter {
 public:
  MetadataFilter() = delete;

  // One row dictionary per key of the node's metadata, in key order:
  // text -> "NSString" and the text; numbers and booleans -> "NSNumber" and
  // the value as "%f" (25 -> "25.000000"); anything else -> "Unknow" for both.
  static std::vector<platform::Dictionary> metadataDictArrayWithNodeMetadataDictionary(
      const platform::Dictionary& nodeMetadata, std::string_view clipUniqueID);

  // The dictionary with each key the display-name table maps replaced by its
  // display name; other keys stay. When two keys end up the same, the one
  // that comes later in key order wins.
  static platform::Dictionary metaDataDictionaryWithDatabaseMetadataDictionary(
      const platform::Dictionary& metadata, const MetadataNameTable& displayNames);
  // The same with the main bundle's "MetadataToDisplayName".
  static platform::Dictionary metaDataDictionaryWithDatabaseMetadataDictionary(const platform::Dictionary& metadata);
};

}  // namespace nodes
