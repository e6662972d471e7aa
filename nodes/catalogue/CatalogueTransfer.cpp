#include "nodes/catalogue/CatalogueTransfer.h"

#include <set>
#include <string>

#include "foundation/CVNLogController.h"
#include "nodes/catalogue/CatalogueTransferErrors.h"
#include "nodes/media/ClipInfoKeys.h"
#include "platform/Clock.h"

namespace nodes {
namespace {

using platform::Dictionary;
using platform::Error;
using platform::Result;
using platform::Status;

constexpr std::uint32_t kProblemLevel = 1;
constexpr std::uint32_t kInformationLevel = 2;

void log(std::uint32_t level, const std::string& text) {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(level, false, text);
}

Error storeFailed(const std::string& what, const Error& cause) {
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ImportStoreFailed,
               what + ": " + cause.localizedDescription,
               Dictionary{{"underlyingError", platform::Value(cause.describe())}});
}

Error catalogueUnavailable(const ClipCatalogue& catalogue) {
  const std::optional<Error> why = catalogue.openError();
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ImportStoreFailed,
               "The clip catalogue is not open" + (why ? ": " + why->localizedDescription : std::string()));
}

// A new row leaves out what it has no value for.
CatalogueRow withoutNoneValues(const CatalogueRow& row) {
  CatalogueRow kept;
  for (const auto& [key, value] : row) {
    if (!value.isNone()) kept.emplace(key, value);
  }
  return kept;
}

Status storeImportedClips(ClipCatalogueStore& store, const std::vector<CatalogueRow>& rows, bool eraseExisting) {
  return store.performTransaction([&]() -> Status {
    if (eraseExisting) {
      std::set<std::string, std::less<>> imported;
      for (const CatalogueRow& row : rows) imported.insert(*row.at(clipinfo::kUniqueID).string());
      Result<std::vector<std::string>> existing = store.fetchClipUniqueIDs({});
      if (!existing.ok()) return existing.error();
      ClipPredicate others;
      others.keyAttribute = ClipPredicate::KeyAttribute::UniqueID;
      for (std::string& uniqueID : *existing) {
        if (!imported.contains(uniqueID)) others.keys.push_back(std::move(uniqueID));
      }
      if (!others.keys.empty()) {
        Result<std::vector<std::string>> deleted = store.deleteClips(others);
        if (!deleted.ok()) return deleted.error();
      }
    }
    for (const CatalogueRow& row : rows) {
      const std::string& uniqueID = *row.at(clipinfo::kUniqueID).string();
      Result<bool> updated = store.updateClip(uniqueID, row);
      if (!updated.ok()) return updated.error();
      if (*updated) continue;
      if (Status inserted = store.insertClip(withoutNoneValues(row)); !inserted.ok()) return inserted;
    }
    return {};
  });
}

}  // namespace

CatalogueTransfer::CatalogueTransfer(ClipCatalogue& catalogue, CatalogueTransferDelegate* delegate)
    : catalogue_(catalogue), delegate_(delegate) {}

void CatalogueTransfer::reportProgress(double percent, bool indeterminate) {
  exportProgressCounter_ = percent;
  if (delegate_) delegate_->updateExportProgressIndicatorWithDoubleValue(percent, indeterminate);
}

Result<platform::Array> CatalogueTransfer::clips() {
  ClipCatalogueStore* store = catalogue_.store();
  if (!store) return catalogueUnavailable(catalogue_);
  Result<std::vector<CatalogueRow>> rows = store->fetchClips({});
  if (!rows.ok()) return rows.error();
  return exportClips(*rows, [this](double percent, bool indeterminate) { reportProgress(percent, indeterminate); });
}

Status CatalogueTransfer::exportAllDataToFolder(const std::filesystem::path& folder) {
  ClipCatalogueStore* store = catalogue_.store();
  if (!store) return catalogueUnavailable(catalogue_);
  Result<std::vector<CatalogueRow>> rows = store->fetchClips({});
  if (!rows.ok()) {
    log(kProblemLevel, "Cannot read the clips to export (" + rows.error().localizedDescription + ")");
    return rows.error();
  }
  const platform::Date now = std::chrono::floor<std::chrono::microseconds>(platform::Clock::current().wallNow());
  return nodes::exportAllDataToFolder(
      folder, *rows, now, [this](double percent, bool indeterminate) { reportProgress(percent, indeterminate); });
}

std::optional<Dictionary> CatalogueTransfer::exportInfosFromFolder(const std::filesystem::path& folder) const {
  return nodes::exportInfosFromFolder(folder);
}

Status CatalogueTransfer::importAllDataFromFolder(const std::filesystem::path& folder, bool eraseExisting) {
  auto failed = [this](Error error) {
    if (delegate_) delegate_->stopImportProgressionPanelEndModalSession(false);
    return Status(std::move(error));
  };
  Result<std::vector<CatalogueRow>> rows = readExportFolder(folder);
  if (!rows.ok()) return failed(rows.error());
  ClipCatalogueStore* store = catalogue_.store();
  if (!store) return failed(catalogueUnavailable(catalogue_));
  if (Status stored = storeImportedClips(*store, *rows, eraseExisting); !stored.ok()) {
    log(kProblemLevel, "Failed importing clips... (" + stored.error().localizedDescription + ")");
    return failed(storeFailed("The imported clips cannot be stored", stored.error()));
  }
  log(kInformationLevel, "Database Import Operation Committed");
  // The catalogue is read anew at the next start; writes queued before the
  // import would only overwrite what it brought.
  catalogue_.discardPendingOperations();
  if (delegate_) {
    delegate_->stopImportProgressionPanelEndModalSession(false);
    delegate_->showMessageVantelioWillQuit();
  }
  return {};
}

}  // namespace nodes
