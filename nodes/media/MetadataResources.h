#pragma once
// The metadata tables that ship as property lists in the application's
// resources (nodes/media/resources/ in the source tree):
//   "MetadataToDisplayName"        metadata key -> display name
//   "MetadataToShow"               metadata key -> shown by default (boolean)
//   "MetadataToDisplayNameDefault" metadata key -> display name, for a restore
// Loaded from a bundle (the main bundle unless one is given) or from an
// explicit folder. Each load reads the file afresh; safe on any thread.
//
// Entries of the wrong type are dropped; a missing or malformed file is an
// error, which callers take as an empty table.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "platform/Bundle.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

inline constexpr const char* kMetadataToDisplayNameResource = "MetadataToDisplayName";
inline constexpr const char* kMetadataToShowResource = "MetadataToShow";
inline constexpr const char* kMetadataToDisplayNameDefaultResource = "MetadataToDisplayNameDefault";
inline constexpr const char* kMetadataResourceType = "plist";

using MetadataNameTable = std::map<std::string, std::string, std::less<>>;
using MetadataShowTable = std::map<std::string, bool, std::less<>>;

// The dictionary of resource `name`.plist: ResourceMissing or
// ResourceMalformed (not a property list, or not a dictionary) otherwise.
platform::Result<platform::Dictionary> loadMetadataResource(std::string_view name, const platform::Bundle& bundle);
platform::Result<platform::Dictionary> loadMetadataResource(std::string_view name,
                                                            const std::filesystem::path& folder);

// Typed tables; entries whose values have another type are left out.
MetadataNameTable metadataNameTable(const platform::Dictionary& resource);
MetadataShowTable metadataShowTable(const platform::Dictionary& resource);

// "MetadataToDisplayName" of the main bundle; empty when it cannot be loaded.
MetadataNameTable metadataDisplayNames();
MetadataNameTable metadataDisplayNames(const platform::Bundle& bundle);

}  // namespace nodes
