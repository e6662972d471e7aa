#include "nodes/catalogue/CatalogueCompatibilityCheck.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "foundation/CVNAlertUtilities.h"
#include "foundation/CVNLogController.h"
#include "platform/Files.h"

namespace nodes {
namespace {

constexpr std::uint32_t kProblemLevel = 1;
// The first version this system cannot open.
constexpr std::int64_t kFirstNewerMediaDatabaseVersion = 102;

std::string formatted(const char* format, const std::string& argument) {
  const int length = std::snprintf(nullptr, 0, format, argument.c_str());
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  std::snprintf(text.data(), text.size() + 1, format, argument.c_str());
  return text;
}

void logProblem(const platform::Status& status) {
  if (status.ok()) return;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(kProblemLevel, false,
                                                                          status.error().localizedDescription);
}

CatalogueCompatibility refuse(CatalogueCompatibility outcome, const std::string& message,
                              const CatalogueCompatibilityActions& actions) {
  foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kDatabaseNotCompatibleTitle, message,
                                                               {kQuitApplicationButtonTitle});
  if (actions.terminateApplication) actions.terminateApplication();
  return outcome;
}

}  // namespace

CatalogueCompatibility checkCatalogueCompatibility(CatalogueVersionFiles& files,
                                                   const CatalogueCompatibilityActions& actions) {
  platform::Result<std::optional<std::int64_t>> stored = files.storedMediaDatabaseVersion();
  if (!stored.ok()) {
    // An unreadable version file once kept the application from starting at
    // all. It counts as missing and is written again; the store itself still
    // refuses a format newer than this system's when it opens. The damaged
    // file is kept for the operator to look at.
    logProblem(stored.error());
    platform::Result<std::filesystem::path> aside = platform::keepDamagedFileAside(files.mediaDatabaseVersionPath());
    if (!aside.ok()) {
      logProblem(aside.error());
      return refuse(CatalogueCompatibility::RefusedUnreadable,
                    formatted(kDatabaseUnreadableMessageFormat, stored.error().localizedDescription), actions);
    }
    logProblem(platform::Error("CatalogueVersionFiles", 1,
                               "The unreadable version file was kept as " + aside->string() + " and written again"));
    stored = std::optional<std::int64_t>();
  }

  CatalogueCompatibility outcome = CatalogueCompatibility::Compatible;
  if (!stored->has_value()) {
    logProblem(files.saveMediaDatabaseVersion(catalogue::kMediaDatabaseVersion));
  } else if (**stored >= kFirstNewerMediaDatabaseVersion) {
    platform::Result<std::optional<std::string>> manager = files.storedManagerVersion();
    if (!manager.ok()) logProblem(manager.error());
    const std::string version = manager.ok() && manager->has_value() && !(*manager)->empty()
                                    ? **manager
                                    : std::string(kUnknownApplicationVersion);
    // "ZiraVersion.plist" keeps naming the newer application: it is not
    // rewritten, even when the termination hook returns.
    return refuse(CatalogueCompatibility::RefusedNewer, formatted(kDatabaseNotCompatibleMessageFormat, version),
                  actions);
  } else if (**stored != catalogue::kMediaDatabaseVersion) {
    if (actions.resetMediaDatabase) actions.resetMediaDatabase();
    logProblem(files.saveMediaDatabaseVersion(catalogue::kMediaDatabaseVersion));
    outcome = CatalogueCompatibility::ResetFromOlder;
  }
  logProblem(files.saveManagerVersion());
  return outcome;
}

}  // namespace nodes
