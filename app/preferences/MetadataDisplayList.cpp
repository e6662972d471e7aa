#include "app/preferences/MetadataDisplayList.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "foundation/CVNAlertUtilities.h"
#include "nodes/media/MetadataResources.h"
#include "platform/PropertyList.h"

namespace app::preferences {
namespace {

constexpr const char* kMetadataListErrorDomain = "MetadataListErrorDomain";
enum class MetadataListErrorCode { Unreadable = 1, TooLarge = 2, Malformed = 3 };

platform::Error importError(MetadataListErrorCode code, std::string reason) {
  return platform::Error(kMetadataListErrorDomain, code, std::move(reason));
}

std::string positionKey(std::size_t position) {
  char text[24];
  std::snprintf(text, sizeof text, "%zu", position);
  return text;
}

platform::Dictionary resourceOrEmpty(const char* name) {
  platform::Result<platform::Dictionary> table = nodes::loadMetadataResource(name, *platform::Bundle::main());
  return table.ok() ? std::move(*table) : platform::Dictionary{};
}

platform::Dictionary entry(const std::string& key, const platform::Value& description) {
  platform::Dictionary result{{kMetadataEntryKeyKey, key}};
  if (!description.isNone()) result.emplace(kMetadataEntryDescriptionKey, description);
  return result;
}

// An imported entry keeps only the three fields, each of its own type, so a
// hostile file cannot put anything else into the defaults.
std::optional<platform::Value> importedEntry(const platform::Value& value) {
  const std::string* key = value[kMetadataEntryKeyKey].string();
  if (!value.isDictionary() || !key) return std::nullopt;
  platform::Dictionary result{{kMetadataEntryKeyKey, *key}};
  if (const std::string* description = value[kMetadataEntryDescriptionKey].string()) {
    result.emplace(kMetadataEntryDescriptionKey, *description);
  }
  if (value[kMetadataEntryShowKey].isBoolean()) result.emplace(kMetadataEntryShowKey, value[kMetadataEntryShowKey]);
  return platform::Value(std::move(result));
}

}  // namespace

MetadataTables MetadataTables::fromMainBundle() {
  return {resourceOrEmpty(nodes::kMetadataToDisplayNameResource), resourceOrEmpty(nodes::kMetadataToShowResource),
          resourceOrEmpty(nodes::kMetadataToDisplayNameDefaultResource)};
}

MetadataDisplayList::MetadataDisplayList(platform::UserDefaults& defaults, platform::NotificationCenter& center,
                                         MetadataTables tables)
    : defaults_(defaults), center_(center), tables_(std::move(tables)) {}

void MetadataDisplayList::loadMetadata() {
  metadataArray_.clear();
  std::optional<platform::Dictionary> storedOrder = defaults_.dictionaryForKey(kMetadataOrderDictKey);
  if (!storedOrder) {
    metadataOrderDict_.clear();
    std::size_t position = 0;
    for (const auto& [key, description] : tables_.displayNames) {
      metadataOrderDict_[positionKey(position++)] = key;
      platform::Dictionary shown = entry(key, description);
      shown[kMetadataEntryShowKey] = tables_.show.contains(key) ? tables_.show.at(key).booleanOr(false) : false;
      metadataArray_.push_back(std::move(shown));
    }
    defaults_.setObject(metadataOrderDict_, kMetadataOrderDictKey);
    return;
  }
  metadataOrderDict_ = std::move(*storedOrder);
  metadataShowDict_ = defaults_.dictionaryForKey(kMetadataShowDictKey).value_or(platform::Dictionary{});
  for (std::size_t position = 0; position < metadataOrderDict_.size(); ++position) {
    const auto found = metadataOrderDict_.find(positionKey(position));
    // A stored order with a gap or a non-text key (an edited defaults file)
    // loses that position only.
    if (found == metadataOrderDict_.end() || !found->second.isString()) continue;
    const std::string& key = *found->second.string();
    const auto description = tables_.displayNames.find(key);
    platform::Dictionary loaded =
        entry(key, description == tables_.displayNames.end() ? platform::Value() : description->second);
    const auto shown = metadataShowDict_.find(key);
    if (shown != metadataShowDict_.end()) loaded[kMetadataEntryShowKey] = shown->second.booleanOr(false);
    metadataArray_.push_back(std::move(loaded));
  }
}

void MetadataDisplayList::syncMetadataOrder() {
  metadataOrderDict_.clear();
  for (std::size_t position = 0; position < metadataArray_.size(); ++position) {
    metadataOrderDict_[positionKey(position)] = metadataArray_[position][kMetadataEntryKeyKey].stringOr("");
  }
  defaults_.setObject(metadataOrderDict_, kMetadataOrderDictKey);
  (void)defaults_.synchronize();
}

void MetadataDisplayList::syncMetadataShow() {
  metadataShowDict_.clear();
  for (const platform::Value& item : metadataArray_) {
    metadataShowDict_[item[kMetadataEntryKeyKey].stringOr("")] = item[kMetadataEntryShowKey].booleanOr(false);
  }
  defaults_.setObject(metadataShowDict_, kMetadataShowDictKey);
}

void MetadataDisplayList::storeAndAnnounce() {
  syncMetadataOrder();
  syncMetadataShow();
  center_.post(kMetadataEntriesDidChangeNotification);
}

platform::Value MetadataDisplayList::valueAt(std::size_t row, std::string_view column) const {
  if (row >= metadataArray_.size() || column.empty()) return {};
  return metadataArray_[row][column];
}

void MetadataDisplayList::setValueAt(std::size_t row, std::string_view column, platform::Value value) {
  if (row >= metadataArray_.size() || column.empty()) return;
  if (column == kMetadataEntryShowKey) {
    showMetadata(row, value.booleanOr(false));
    return;
  }
  (*metadataArray_[row].dictionary())[std::string(column)] = std::move(value);
}

void MetadataDisplayList::showMetadata(std::size_t row, bool show) {
  if (row >= metadataArray_.size()) return;
  (*metadataArray_[row].dictionary())[kMetadataEntryShowKey] = show;
  center_.post(kMetadataEntriesDidChangeNotification);
  syncMetadataShow();
}

void MetadataDisplayList::removeEntries(const std::vector<std::size_t>& rows) {
  std::vector<std::size_t> sorted = rows;
  std::sort(sorted.begin(), sorted.end(), std::greater<>());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (std::size_t row : sorted) {
    if (row < metadataArray_.size()) metadataArray_.erase(metadataArray_.begin() + static_cast<std::ptrdiff_t>(row));
  }
  storeAndAnnounce();
}

void MetadataDisplayList::announceUnchanged() { storeAndAnnounce(); }

void MetadataDisplayList::addEntry(const std::string& key, const std::string& description) {
  metadataArray_.push_back(entry(key, description));
  // Stored whole so the show list holds the new key (as hidden) at once.
  storeAndAnnounce();
}

std::vector<std::size_t> MetadataDisplayList::moveRows(std::vector<std::size_t> rows, std::size_t dropRow) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::erase_if(rows, [&](std::size_t row) { return row >= metadataArray_.size(); });
  if (rows.empty()) return {};
  dropRow = std::min(dropRow, metadataArray_.size());
  // Only the moved rows above the drop row shift it; counting them all would
  // misplace a selection that straddles the drop row.
  const auto above = static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [&](std::size_t row) {
    return row < dropRow;
  }));
  const std::size_t destination = dropRow - above;
  platform::Array moved;
  for (std::size_t row : rows) moved.push_back(metadataArray_[row]);
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    metadataArray_.erase(metadataArray_.begin() + static_cast<std::ptrdiff_t>(*row));
  }
  metadataArray_.insert(metadataArray_.begin() + static_cast<std::ptrdiff_t>(destination), moved.begin(),
                        moved.end());
  storeAndAnnounce();
  std::vector<std::size_t> nowAt;
  for (std::size_t i = 0; i < moved.size(); ++i) nowAt.push_back(destination + i);
  return nowAt;
}

bool MetadataDisplayList::restoreDefaultValue() {
  const foundation::ModalResponse answer = foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(
      kRestoreMetadataTitle, kRestoreMetadataMessage, {kRestoreMetadataCancelButton, kRestoreMetadataRestoreButton});
  if (answer != foundation::kAlertSecondButtonReturn) return false;
  metadataArray_.clear();
  for (const auto& [key, description] : tables_.displayNamesDefault) metadataArray_.push_back(entry(key, description));
  storeAndAnnounce();
  return true;
}

platform::Status MetadataDisplayList::exportTo(const std::filesystem::path& path) const {
  return platform::writePropertyListFile(path, metadataArray_);
}

platform::Status MetadataDisplayList::importFrom(const std::filesystem::path& path) {
  std::error_code problem;
  const std::uintmax_t size = std::filesystem::file_size(path, problem);
  if (problem) return importError(MetadataListErrorCode::Unreadable, path.string() + ": " + problem.message());
  if (size > kMaxMetadataImportBytes) {
    return importError(MetadataListErrorCode::TooLarge,
                       path.string() + " is larger than " + std::to_string(kMaxMetadataImportBytes) + " bytes.");
  }
  platform::Result<platform::Value> contents = platform::readPropertyListFile(path);
  if (!contents.ok()) return importError(MetadataListErrorCode::Unreadable, contents.error().describe());
  const platform::Array* items = contents->array();
  if (!items) {
    return importError(MetadataListErrorCode::Malformed, path.string() + " does not hold a list of metadata entries.");
  }
  platform::Array imported;
  for (std::size_t i = 0; i < items->size(); ++i) {
    std::optional<platform::Value> item = importedEntry((*items)[i]);
    if (!item) {
      return importError(MetadataListErrorCode::Malformed,
                         "Entry " + std::to_string(i) + " of " + path.string() + " has no text \"key\".");
    }
    imported.push_back(std::move(*item));
  }
  metadataArray_ = std::move(imported);
  storeAndAnnounce();
  return platform::Status::success();
}

}  // namespace app::preferences
