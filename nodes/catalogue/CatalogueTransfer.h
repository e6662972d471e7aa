#pragma once
// CatalogueTransfer: export of the whole clip catalogue to an export folder
// and import of such a folder back into it (the data source's
// exportAllDataToFolder / importAllDataFromFolder), with the progress and
// completion calls the application shows.
//
// Owned by the data source, beside the catalogue it works on (not owned; it
// outlives this object). Main thread only, like the catalogue's operations.
//
// Guarantees:
// - an export reads the catalogue and never changes it; it never deletes or
//   overwrites anything it did not create (CatalogueExportFolder.h) and
//   reports every failure;
// - an import checks the whole folder first and then stores every clip in one
//   transaction: on any failure nothing is stored, the catalogue's pending
//   operations are kept, the import panel is closed and the error is handed
//   back; the application is asked to quit only after a stored import.

#include <filesystem>
#include <optional>

#include "nodes/catalogue/CatalogueExportFolder.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

// The application delegate's part in export and import.
class CatalogueTransferDelegate {
 public:
  virtual ~CatalogueTransferDelegate() = default;
  virtual void updateExportProgressIndicatorWithDoubleValue(double percent, bool indeterminate) = 0;
  virtual void stopImportProgressionPanelEndModalSession(bool endModalSession) = 0;
  // Shows "Import Complete !" and asks the application to quit.
  virtual void showMessageVantelioWillQuit() = 0;
};

class CatalogueTransfer {
 public:
  // `delegate` may be null (nothing is shown); not owned, outlives this.
  CatalogueTransfer(ClipCatalogue& catalogue, CatalogueTransferDelegate* delegate);

  // exportAllDataToFolder:error:, dated now.
  platform::Status exportAllDataToFolder(const std::filesystem::path& folder);
  // exportInfosFromFolder:
  std::optional<platform::Dictionary> exportInfosFromFolder(const std::filesystem::path& folder) const;
  // importAllDataFromFolder:eraseExisting:error:. A clip whose unique ID the
  // catalogue already holds replaces that clip's values (its attributes,
  // languages and metadata stay); with `eraseExisting` every clip not in the
  // export is deleted first.
  platform::Status importAllDataFromFolder(const std::filesystem::path& folder, bool eraseExisting);

  // clips: the export form of every clip, with progress.
  platform::Result<platform::Array> clips();

  double exportProgressCounter() const { return exportProgressCounter_; }
  void setExportProgressCounter(double percent) { exportProgressCounter_ = percent; }

 private:
  void reportProgress(double percent, bool indeterminate);

  ClipCatalogue& catalogue_;
  CatalogueTransferDelegate* delegate_ = nullptr;  // not owned; outlives this
  double exportProgressCounter_ = 0.0;
};

}  // namespace nodes
