#include "telemetry/core/DRTLArchiveClasses.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {

platform::KeyedArchiveRegistry& DRTLUtility::archiveRegistry() {
  static platform::KeyedArchiveRegistry* registry = [] {
    auto* made = new platform::KeyedArchiveRegistry();  // lives for the process: archives may be read during exit
    registerCoreArchiveClasses(*made);
    return made;
  }();
  return *registry;
}

std::optional<std::string> DRTLUtility::archiveKeyedData(const platform::Archivable* object) {
  std::string bytes;
  if (!archiveKeyedData(object, bytes)) return std::nullopt;
  return bytes;
}

bool DRTLUtility::archiveKeyedData(const platform::Archivable* object, std::string& bytes) {
  if (!object) return false;
  if (platform::Status status = platform::archivedDataInto(*object, bytes); !status.ok()) {
    DRTLLogError("Archiving NSData failed with error: " + status.error().describe());
    return false;
  }
  return true;
}

std::shared_ptr<platform::Archivable> DRTLUtility::unarchiveKeyedData(const std::optional<std::string>& data) {
  if (!data) return nullptr;
  platform::Result<std::shared_ptr<platform::Archivable>> object = platform::unarchive(*data, archiveRegistry());
  if (!object.ok()) {
    DRTLLogError("Unarchiving NSData failed with error: " + object.error().describe());
    return nullptr;
  }
  return std::move(*object);
}

// The table is the registry itself, which locks: an old name is registered as
// a decoder that forwards to the current class's decoder when it runs, so
// other threads may unarchive while names are added.
void DRTLUtility::addMigrationClasses(const std::map<std::string, std::string>& migrationClasses) {
  platform::KeyedArchiveRegistry& registry = archiveRegistry();
  for (const auto& entry : migrationClasses) {
    const std::string& oldName = entry.first;
    const std::string& currentName = entry.second;
    registry.registerClass(
        oldName, [&registry, oldName, currentName](const platform::KeyedArchiveDecoder& decoder)
                     -> platform::Result<std::shared_ptr<platform::Archivable>> {
          platform::KeyedArchiveRegistry::Decoder current = registry.decoderFor(currentName);
          if (!current || currentName == oldName) {
            return decoder.error("$class", "no class reads \"" + oldName + "\"",
                                 platform::KeyedArchiveErrorCode::UnknownClass);
          }
          return current(decoder);
        });
  }
}

}  // namespace telemetry::core
