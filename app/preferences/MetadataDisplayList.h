#pragma once
// MetadataDisplayList: the operator's list of metadata keys to show in the
// clip inspector, in order, with a description per key and whether each is
// shown. The persistent form is two defaults: "metadataOrderDict" (position
// "0", "1", ... -> key) and "metadataShowDict" (key -> shown). The first run
// takes the list from the shipped "MetadataToDisplayName" and "MetadataToShow"
// tables; restore takes it from "MetadataToDisplayNameDefault".
//
// Every change that the inspector must follow (add, remove, show or hide,
// row move, import, restore) rewrites both defaults and posts
// "MetadataEntriesDidChange" (no object): the list and the inspector never
// disagree.
//
// Owned by the preferences window controller. Main thread only; the defaults
// and the notification centre outlive it.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace app::preferences {

inline constexpr const char* kMetadataOrderDictKey = "metadataOrderDict";
inline constexpr const char* kMetadataShowDictKey = "metadataShowDict";
inline constexpr const char* kMetadataEntriesDidChangeNotification = "MetadataEntriesDidChange";
inline constexpr const char* kMetadataRowsDragType = "MyPrivateTableViewDataType";
// Entry keys, also the table's column identifiers.
inline constexpr const char* kMetadataEntryKeyKey = "key";
inline constexpr const char* kMetadataEntryDescriptionKey = "description";
inline constexpr const char* kMetadataEntryShowKey = "show";

inline constexpr const char* kRestoreMetadataTitle = "Vantelio Vovi Restore";
inline constexpr const char* kRestoreMetadataMessage =
    "If you do this, you will lose all your previous values. Please confirm.";
inline constexpr const char* kRestoreMetadataCancelButton = "Cancel";
inline constexpr const char* kRestoreMetadataRestoreButton = "Restore";
inline constexpr const char* kImportMetadataFailedTitle = "The metadata list cannot be imported";

// An imported list larger than this is refused unread.
inline constexpr std::uintmax_t kMaxMetadataImportBytes = 1024 * 1024;

// The shipped tables (key -> description, key -> shown); empty when missing.
struct MetadataTables {
  platform::Dictionary displayNames;
  platform::Dictionary show;
  platform::Dictionary displayNamesDefault;
  // The three tables of the main bundle.
  static MetadataTables fromMainBundle();
};

class MetadataDisplayList {
 public:
  MetadataDisplayList(platform::UserDefaults& defaults, platform::NotificationCenter& center, MetadataTables tables);
  MetadataDisplayList(const MetadataDisplayList&) = delete;
  MetadataDisplayList& operator=(const MetadataDisplayList&) = delete;

  // Fills the list from the stored order, or from the shipped tables on the
  // first run (then only the order is written).
  void loadMetadata();
  void syncMetadataOrder();
  void syncMetadataShow();

  // Entries are dictionaries {"key", "description", "show"}.
  const platform::Array& metadataArray() const { return metadataArray_; }
  const platform::Dictionary& metadataOrderDict() const { return metadataOrderDict_; }
  const platform::Dictionary& metadataShowDict() const { return metadataShowDict_; }

  // The table: the entry's value for the column identifier (none outside).
  platform::Value valueAt(std::size_t row, std::string_view column) const;
  // An edited cell; the "show" column shows or hides the entry.
  void setValueAt(std::size_t row, std::string_view column, platform::Value value);
  // Sets "show" of the entry at `row`, announces it and stores the show list.
  void showMetadata(std::size_t row, bool show);

  // Segment 1: removes the entries at `rows`. Segment 0 (before its sheet
  // ends): stores and announces the list as it is.
  void removeEntries(const std::vector<std::size_t>& rows);
  void announceUnchanged();
  // The add sheet ended with OK: appends {"key", "description"}.
  void addEntry(const std::string& key, const std::string& description);

  // Moves the entries at `rows` to the drop position `dropRow` (between rows:
  // 0 before the first, size() after the last); answers where they now are.
  std::vector<std::size_t> moveRows(std::vector<std::size_t> rows, std::size_t dropRow);

  // Asks for confirmation, then replaces the list by the shipped default
  // list (every entry hidden). False when the operator cancelled.
  bool restoreDefaultValue();

  // Writes the list as a property-list array, atomically.
  platform::Status exportTo(const std::filesystem::path& path) const;
  // Replaces the list by a property-list file (at most 1 MiB, an array of
  // dictionaries with a text "key"); otherwise an error and nothing changes.
  platform::Status importFrom(const std::filesystem::path& path);

 private:
  void storeAndAnnounce();

  platform::UserDefaults& defaults_;
  platform::NotificationCenter& center_;
  const MetadataTables tables_;
  platform::Array metadataArray_;
  platform::Dictionary metadataOrderDict_;
  platform::Dictionary metadataShowDict_;
};

}  // namespace app::preferences
