#include "nodes/media/MetadataResources.h"

#include "nodes/media/NodeModelErrors.h"
#include "platform/PropertyList.h"

namespace nodes {

platform::Result<platform::Dictionary> loadMetadataResource(std::string_view name, const platform::Bundle& bundle) {
  std::optional<std::filesystem::path> path = bundle.pathForResource(name, kMetadataResourceType);
  if (!path) {
    return platform::Error(kNodeModelErrorDomain, NodeModelErrorCode::ResourceMissing,
                           "No resource \"" + std::string(name) + "." + kMetadataResourceType + "\" in " +
                               bundle.resourcesPath().string());
  }
  platform::Result<platform::Value> contents = platform::readPropertyListFile(*path);
  if (!contents.ok()) {
    return platform::Error(kNodeModelErrorDomain, NodeModelErrorCode::ResourceMalformed,
                           "Resource " + path->string() + " cannot be read: " + contents.error().describe());
  }
  if (platform::Dictionary* dictionary = contents->dictionary()) return std::move(*dictionary);
  return platform::Error(kNodeModelErrorDomain, NodeModelErrorCode::ResourceMalformed,
                         "Resource " + path->string() + " is not a dictionary but " +
                             platform::typeName(contents->type()));
}

platform::Result<platform::Dictionary> loadMetadataResource(std::string_view name,
                                                            const std::filesystem::path& folder) {
  return loadMetadataResource(name, platform::Bundle(folder));
}

MetadataNameTable metadataNameTable(const platform::Dictionary& resource) {
  MetadataNameTable table;
  for (const auto& [key, value] : resource) {
    if (const std::string* name = value.string()) table.emplace(key, *name);
  }
  return table;
}

MetadataShowTable metadataShowTable(const platform::Dictionary& resource) {
  MetadataShowTable table;
  for (const auto& [key, value] : resource) {
    if (value.isBoolean()) table.emplace(key, *value.boolean());
  }
  return table;
}

MetadataNameTable metadataDisplayNames(const platform::Bundle& bundle) {
  platform::Result<platform::Dictionary> resource = loadMetadataResource(kMetadataToDisplayNameResource, bundle);
  return resource.ok() ? metadataNameTable(*resource) : MetadataNameTable{};
}

MetadataNameTable metadataDisplayNames() { return metadataDisplayNames(*platform::Bundle::main()); }

}  // namespace nodes
