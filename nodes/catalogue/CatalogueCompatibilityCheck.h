#pragma once
// The start-up version check of the clip catalogue: decides from the
// "Versions" files whether this application may open the catalogue, resets
// an older one (every clip offline, every media folder enumerated again) and
// refuses a newer one with an alert, after which the application is asked
// to quit. An unreadable media version file is kept aside as
// "<name>.corrupt-<timestamp>" and counts as missing (the store itself
// refuses a newer format when it opens); only when it cannot be moved is
// the catalogue refused as unreadable.
//
// A free function run once per start on the main thread, after the store is
// open. The catalogue's reset and the application's termination are handed
// in, so the check never ends the process itself.
//
// Guarantees: a catalogue that is refused is left exactly as it was (no
// version file is rewritten, nothing is reset); otherwise "ZiraVersion.plist"
// holds the running version afterwards.

#include <functional>
#include <string>

#include "nodes/catalogue/CatalogueVersionFiles.h"

namespace nodes {

inline constexpr const char* kDatabaseNotCompatibleTitle = "Database Not Compatible Error !";
// printf-style: %s is the version found in "ZiraVersion.plist".
inline constexpr const char* kDatabaseNotCompatibleMessageFormat =
    "The clip database on this computer is not compatible with this version of Vantelio Vovi.\n"
    "You should use Vantelio Vovi %s or later.";
inline constexpr const char* kDatabaseUnreadableMessageFormat =
    "The clip database on this computer cannot be checked: %s\n"
    "Repair or remove the version file, then start Vantelio Vovi again.";
inline constexpr const char* kQuitApplicationButtonTitle = "Quit Vantelio Vovi";
// Stands for the version when "ZiraVersion.plist" names none.
inline constexpr const char* kUnknownApplicationVersion = "(unknown)";

enum class CatalogueCompatibility {
  Compatible = 1,         // the catalogue is of this format (or new)
  ResetFromOlder = 2,     // an older format: the catalogue was reset and now says 101
  RefusedNewer = 3,       // a newer format: alert shown, termination asked
  RefusedUnreadable = 4,  // the format cannot be told: alert shown, termination asked
};

struct CatalogueCompatibilityActions {
  std::function<void()> resetMediaDatabase;    // the catalogue's reset
  std::function<void()> terminateApplication;  // asks the application to quit; may return
};

// checkCompatibility.
CatalogueCompatibility checkCatalogueCompatibility(CatalogueVersionFiles& files,
                                                   const CatalogueCompatibilityActions& actions);

}  // namespace nodes
