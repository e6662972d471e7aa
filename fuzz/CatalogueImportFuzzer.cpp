// Feeds arbitrary bytes, as the "clips.plist" of an export folder, to the
// catalogue's import reader. Nothing may crash, and every clip it accepts
// must export and import again.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/CVNLogController.h"
#include "nodes/catalogue/CatalogueExportFolder.h"
#include "nodes/catalogue/ClipExportRecord.h"
#include "platform/Diagnostics.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reader logs each refused clip; the fuzzer would drown in them, and
  // no log file is written.
  static foundation::CVNLogControllerDelegate quiet;
  foundation::CVNLogController& log = foundation::CVNLogController::sharedLogController();
  log.setTechnicalLogFolderPath(std::nullopt);
  log.setLogDelegate(&quiet);
  platform::setDiagnosticHandler([](platform::DiagnosticLevel, const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  platform::Result<std::vector<platform::Dictionary>> rows = nodes::readExportClips(bytes, "clips.plist");
  if (!rows.ok()) return 0;
  for (const platform::Dictionary& row : *rows) {
    if (!nodes::clipRowFromExportDictionary(nodes::exportDictionaryFromClipRow(row)).ok()) __builtin_trap();
  }
  return 0;
}
