#include "nodes/media/MetadataFilter.h"

#include <cstdio>
#include <string>

#include "nodes/media/Metadata.h"

namespace nodes {

namespace {

// printf's "%f": six decimals, every integer digit.
std::string formatNumber(double number) {
  int length = std::snprintf(nullptr, 0, "%f", number);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%f", number);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace

std::vector<platform::Dictionary> MetadataFilter::metadataDictArrayWithNodeMetadataDictionary(
    const platform::Dictionary& nodeMetadata, std::string_view clipUniqueID) {
  std::vector<platform::Dictionary> rows;
  rows.reserve(nodeMetadata.size());
  for (const auto& [key, value] : nodeMetadata) {
    Metadata metadata;
    metadata.setClipUniqueID(std::string(clipUniqueID));
    metadata.setKey(key);
    if (const std::string* text = value.string()) {
      metadata.setType(kMetadataTypeString);
      metadata.setValue(*text);
    } else if (value.isNumber() || value.isBoolean()) {
      // Booleans are numbers in the node's property lists.
      metadata.setType(kMetadataTypeNumber);
      metadata.setValue(formatNumber(*value.real()));
    } else {
      metadata.setType(kMetadataTypeUnknown);
      metadata.setValue(kMetadataTypeUnknown);
    }
    rows.push_back(metadata.row());
  }
  return rows;
}

platform::Dictionary MetadataFilter::metaDataDictionaryWithDatabaseMetadataDictionary(
    const platform::Dictionary& metadata, const MetadataNameTable& displayNames) {
  platform::Dictionary named;
  for (const auto& [key, value] : metadata) {
    auto it = displayNames.find(key);
    named.insert_or_assign(it != displayNames.end() ? it->second : key, value);
  }
  return named;
}

platform::Dictionary MetadataFilter::metaDataDictionaryWithDatabaseMetadataDictionary(
    const platform::Dictionary& metadata) {
  return metaDataDictionaryWithDatabaseMetadataDictionary(metadata, metadataDisplayNames());
}

}  // namespace nodes
