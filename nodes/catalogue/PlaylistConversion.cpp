#include "nodes/catalogue/PlaylistConversion.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "foundation/CVNLogController.h"
#include "foundation/DictionaryCategories.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/media/ClipInfoKeys.h"

namespace nodes {
namespace {

using platform::Dictionary;
using platform::Value;

constexpr std::uint32_t kInformationLevel = 2;

// Numbers equal to 1 count as YES, as a number comparison would have it.
bool equalsYes(const Value& value) {
  if (value.isBoolean()) return *value.boolean();
  if (value.isNumber()) return *value.real() == 1.0;
  return false;
}

// The integer a value answers: numbers truncated, booleans 0 or 1, text by
// its leading digits (none: 0); anything else 0.
std::int64_t integerValue(const Value& value) {
  if (value.isNumber() || value.isBoolean()) return value.integerOr(0);
  if (const std::string* text = value.string()) return std::strtoll(text->c_str(), nullptr, 10);
  return 0;
}

// The float a value answers, or nullopt when it answers none.
std::optional<double> floatValue(const Value& value) {
  if (value.isNumber() || value.isBoolean()) return value.real();
  if (const std::string* text = value.string()) return std::strtod(text->c_str(), nullptr);
  return std::nullopt;
}

std::string oneDecimal(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// The end behaviours the system acts on; others are dropped. (The older
// layout only yields "Normal" and "Loop"; current entries keep theirs.)
bool isKnownEndBehaviour(const Value& value) {
  const std::string* text = value.string();
  if (!text) return false;
  for (const char* known : {kClipEndBehaviourNormal, kClipEndBehaviourChain, kClipEndBehaviourLoop,
                            kClipEndBehaviourStopAtEnd, kClipEndBehaviourHoldLastFrame}) {
    if (*text == known) return true;
  }
  return false;
}

std::optional<std::string> stringFor(const Dictionary& entry, const char* key) {
  auto found = entry.find(key);
  if (found == entry.end() || !found->second.isString()) return std::nullopt;
  return *found->second.string();
}

// A point from the entry when its flag is set and the seconds are a number.
std::optional<double> pointFor(const Dictionary& entry, const char* secondsKey, const char* flagKey) {
  auto seconds = entry.find(secondsKey);
  auto flag = entry.find(flagKey);
  if (seconds == entry.end() || flag == entry.end() || !seconds->second.isNumber()) return std::nullopt;
  if (!flag->second.booleanOr(false)) return std::nullopt;
  return seconds->second.real();
}

void applyEntry(const Dictionary& entry, PlaylistItem& item) {
  std::optional<Dictionary> attributes;
  auto found = entry.find(clipinfo::kAttributes);
  if (found != entry.end() && found->second.isDictionary()) {
    attributes = *found->second.dictionary();
    auto endBehaviour = attributes->find(kClipEndBehaviourAttribute);
    if (endBehaviour != attributes->end() && !isKnownEndBehaviour(endBehaviour->second))
      attributes->erase(endBehaviour);
  }
  item.setAttributes(foundation::mergedDictWithMasterDict(attributes, item.attributes()));

  if (std::optional<double> in = pointFor(entry, clipinfo::kInPointInSeconds, clipinfo::kHasInPoint); in && *in > 0) {
    item.setInPointInSeconds(*in);
  }
  // An out point must lie inside the file; a negative one is no point at all.
  if (std::optional<double> out = pointFor(entry, clipinfo::kOutPointInSeconds, clipinfo::kHasOutPoint);
      out && *out > 0 && *out < item.mediaItemDurationInSeconds()) {
    item.setOutPointInSeconds(*out);
  }
}

class ClipCatalogueConversion final : public PlaylistConversionCatalogue {
 public:
  explicit ClipCatalogueConversion(ClipCatalogue& catalogue) : catalogue_(catalogue) {}
  std::shared_ptr<PlaylistItem> playlistItemWithNodeUniqueID(
      const std::string& nodeUniqueID, const std::string& absolutePath,
      const std::optional<std::string>& mediaItemUniqueID,
      const std::optional<std::string>& mediaFolderUniqueID) override {
    return catalogue_.playlistItemWithNodeUniqueID(nodeUniqueID, absolutePath, mediaItemUniqueID, mediaFolderUniqueID);
  }
  void addOrUpdateClips(const std::vector<std::shared_ptr<PlaylistItem>>& clips) override {
    catalogue_.addOrUpdateClips(clips);
  }

 private:
  ClipCatalogue& catalogue_;
};

}  // namespace

bool isOlderPlaylistLayout(const Dictionary& document) {
  auto settings = document.find(kDocumentSettingsKey);
  if (settings == document.end() || !settings->second.isDictionary()) return true;
  const Value& values = settings->second;
  return !values.contains(kDocumentPlaylistUniqueIDKey) && !values.contains(kDocumentABRollKey);
}

std::string documentClipKey(int index) {
  char key[32];
  std::snprintf(key, sizeof key, kDocumentClipKeyFormat, index);
  return key;
}

Dictionary zrxlItemDictWithZRXVItemDict(const Dictionary& olderEntry) {
  const Value older(olderEntry);
  Dictionary entry;
  Dictionary attributes;

  if (const std::string* path = older[kOlderFilePathKey].string()) entry[clipinfo::kAbsolutePathToMediaItem] = *path;
  if (older.contains(kOlderShouldOverlayLogoKey) && !equalsYes(older[kOlderShouldOverlayLogoKey])) {
    attributes[kOverlayLogoAttribute] = kAttributeValueNone;
  }
  attributes[kClipEndBehaviourAttribute] = integerValue(older[kOlderPlaybackModeKey]) == kOlderPlaybackModeLoop
                                               ? kClipEndBehaviourLoop
                                               : kClipEndBehaviourNormal;
  attributes[kReverseFieldOrderAttribute] =
      equalsYes(older[kOlderReverseFieldOrderKey]) ? kAttributeValueReversed : kAttributeValueNormal;

  const Value& in = older[kOlderInPointKey];
  if (in.isNumber()) entry[clipinfo::kInPointInSeconds] = in;
  entry[clipinfo::kHasInPoint] = in.isNumber();
  const Value& out = older[kOlderOutPointKey];
  if (out.isNumber()) entry[clipinfo::kOutPointInSeconds] = out;
  entry[clipinfo::kHasOutPoint] = out.isNumber();

  if (std::optional<double> volume = floatValue(older[kOlderVolumeKey])) {
    attributes[kAudioVolumeAttribute] = oneDecimal(*volume);
  }
  entry[clipinfo::kAttributes] = std::move(attributes);
  return entry;
}

std::vector<std::shared_ptr<PlaylistItem>> playlistItemsArrayFromDict(const Dictionary& document,
                                                                      const std::string& nodeUniqueID,
                                                                      PlaylistConversionCatalogue& catalogue) {
  const bool older = isOlderPlaylistLayout(document);
  std::map<std::string, std::shared_ptr<PlaylistItem>, std::less<>> itemsByPath;
  std::vector<std::shared_ptr<PlaylistItem>> items;
  std::vector<std::shared_ptr<PlaylistItem>> clipsToStore;
  int skipped = 0;

  for (int index = 0;; ++index) {
    auto found = document.find(documentClipKey(index));
    if (found == document.end()) break;
    if (!found->second.isDictionary()) {
      ++skipped;
      continue;
    }
    const Dictionary entry =
        older ? zrxlItemDictWithZRXVItemDict(*found->second.dictionary()) : *found->second.dictionary();
    const std::optional<std::string> path = stringFor(entry, clipinfo::kAbsolutePathToMediaItem);
    if (!path) {
      ++skipped;
      continue;
    }

    std::shared_ptr<PlaylistItem> item;
    auto cached = itemsByPath.find(*path);
    const bool fromCache = cached != itemsByPath.end();
    if (fromCache) {
      item = cached->second->copy();
    } else {
      item = catalogue.playlistItemWithNodeUniqueID(nodeUniqueID, *path, stringFor(entry, clipinfo::kMediaItemUniqueID),
                                                    stringFor(entry, clipinfo::kMediaFolderUniqueID));
    }
    if (!item) {
      ++skipped;
      continue;
    }
    applyEntry(entry, *item);
    if (!fromCache) {
      itemsByPath.emplace(item->absolutePathToMediaItem(), item);
      clipsToStore.push_back(item);
    }
    items.push_back(std::move(item));
  }

  if (skipped > 0) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        kInformationLevel, false, "Zvpl Playlist Import skipped lines: %i", skipped);
  }
  if (!clipsToStore.empty()) catalogue.addOrUpdateClips(clipsToStore);
  return items;
}

std::vector<std::shared_ptr<PlaylistItem>> playlistItemsArrayFromDict(const Dictionary& document,
                                                                      const std::string& nodeUniqueID,
                                                                      ClipCatalogue& catalogue) {
  ClipCatalogueConversion conversion(catalogue);
  return playlistItemsArrayFromDict(document, nodeUniqueID, conversion);
}

}  // namespace nodes
