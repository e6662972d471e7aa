#include "nodes/playlist/PlaylistDocumentFormat.h"

#include <cfloat>
#include <charconv>
#include <map>
#include <set>
#include <utility>

#include "foundation/GenerateUniqueID.h"
#include "nodes/media/DictionaryFieldReader.h"
#include "nodes/playlist/PropertyListSalvage.h"
#include "platform/PropertyList.h"

namespace nodes {
namespace {

using namespace playlistfile;
using platform::Dictionary;
using platform::Value;

constexpr std::string_view kClipEntryPrefix = "Clip ";

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

Value floatValue(double value) { return Value(static_cast<double>(static_cast<float>(value))); }

// The settings as far as they are sound; refused keys are named in `skipped`.
PlaylistDocumentSettings readSettings(const Dictionary& dictionary, std::vector<std::string>& skipped) {
  detail::DictionaryFieldReader reader(dictionary, kDocumentSettingsKey);
  PlaylistDocumentSettings s;
  s.loop = reader.boolean(kLoopKey);
  s.chain = reader.boolean(kChainKey);
  s.cueMode = reader.boolean(kCueKey);
  s.abRoll = reader.boolean(kABRollKey);
  s.absoluteStartTime = reader.real(kAbsoluteStartTimeKey, 0.0, kSecondsPerDay);
  const std::optional<double> x = reader.real(kWindowFrameOriginXKey, -FLT_MAX, FLT_MAX);
  const std::optional<double> y = reader.real(kWindowFrameOriginYKey, -FLT_MAX, FLT_MAX);
  const std::optional<double> width = reader.real(kWindowFrameSizeWidthKey, -FLT_MAX, FLT_MAX);
  const std::optional<double> height = reader.real(kWindowFrameSizeHeightKey, -FLT_MAX, FLT_MAX);
  if (x && y && width && height) s.windowFrame = WindowFrame{*x, *y, *width, *height};
  s.nodeAName = reader.string(kNodeNameAKey);
  s.nodeBName = reader.string(kNodeNameBKey);
  s.nodeAUniqueID = reader.string(kNodeAUniqueIDKey);
  s.nodeBUniqueID = reader.string(kNodeBUniqueIDKey);
  s.playlistUniqueID = reader.string(kPlaylistUniqueIDKey);
  if (platform::Status status = reader.status(); !status.ok()) skipped.push_back(status.error().localizedDescription);
  return s;
}

std::string gapProblem(std::uint64_t first, std::uint64_t last) {
  if (first == last) return "there is no entry " + inQuotes(clipEntryKey(first)) + "; the rows after it are read";
  return "there are no entries " + inQuotes(clipEntryKey(first)) + " to " + inQuotes(clipEntryKey(last)) +
         "; the rows after them are read";
}

// The "Clip N" entries in numeric order, every one present.
void readRows(const std::map<std::uint64_t, const Value*>& entries, PlaylistFileContents& contents) {
  std::set<std::string> playbackUniqueIDs;
  std::uint64_t expected = 0;
  for (const auto& [index, value] : entries) {
    if (index > expected) contents.skipped.push_back(gapProblem(expected, index - 1));
    expected = index + 1;
    const std::string key = clipEntryKey(index);
    const Dictionary* dictionary = value->dictionary();
    if (!dictionary) {
      contents.skipped.push_back("the entry " + inQuotes(key) + " is left out: it holds " +
                                 platform::typeName(value->type()) + ", not a dictionary");
      continue;
    }
    platform::Status problems;
    std::shared_ptr<PlaylistItem> item = PlaylistItem::initWithDictionary(*dictionary, &problems);
    if (!problems.ok())
      contents.skipped.push_back("the entry " + inQuotes(key) + ": " + problems.error().localizedDescription);
    if (!playbackUniqueIDs.insert(item->playbackUniqueID().value_or("")).second) {
      item->setPlaybackUniqueID(foundation::GenerateUniqueID::generateUniqueID());
      contents.repaired.push_back("the entry " + inQuotes(key) +
                                  " repeated an earlier row's playback unique ID and got a new one");
    }
    contents.items.push_back(std::move(item));
  }
}

}  // namespace

std::string clipEntryKey(std::uint64_t index) { return std::string(kClipEntryPrefix) + std::to_string(index); }

std::optional<std::uint64_t> clipEntryIndex(std::string_view key) {
  if (!key.starts_with(kClipEntryPrefix)) return std::nullopt;
  const std::string_view digits = key.substr(kClipEntryPrefix.size());
  if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  std::uint64_t index = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return index;
}

Dictionary PlaylistDocumentSettings::dictionary() const {
  Dictionary d;
  auto put = [&d](const char* key, const auto& value) {
    if (value) d.insert_or_assign(key, Value(*value));
  };
  put(kLoopKey, loop);
  put(kChainKey, chain);
  put(kCueKey, cueMode);
  put(kABRollKey, abRoll);
  put(kAbsoluteStartTimeKey, absoluteStartTime);
  if (windowFrame) {
    d.insert_or_assign(kWindowFrameOriginXKey, floatValue(windowFrame->originX));
    d.insert_or_assign(kWindowFrameOriginYKey, floatValue(windowFrame->originY));
    d.insert_or_assign(kWindowFrameSizeWidthKey, floatValue(windowFrame->width));
    d.insert_or_assign(kWindowFrameSizeHeightKey, floatValue(windowFrame->height));
  }
  put(kNodeNameAKey, nodeAName);
  put(kNodeNameBKey, nodeBName);
  put(kNodeAUniqueIDKey, nodeAUniqueID);
  put(kNodeBUniqueIDKey, nodeBUniqueID);
  put(kPlaylistUniqueIDKey, playlistUniqueID);
  return d;
}

platform::Result<PlaylistFileContents> readPlaylistFile(std::string_view data) {
  PlaylistFileContents contents;
  Dictionary root;
  bool cutShort = false;
  platform::Result<Value> parsed = platform::readPropertyList(data);
  if (parsed.ok()) {
    if (!parsed->dictionary()) {
      return platform::Error(platform::kPropertyListErrorDomain, platform::PropertyListErrorCode::Malformed,
                             std::string("The file is not a playlist: its root is ") +
                                 platform::typeName(parsed->type()) + ", not a dictionary");
    }
    root = std::move(*parsed->dictionary());
  } else {
    platform::Result<detail::SalvagedDictionary> salvaged = detail::salvagePropertyListDictionary(data);
    if (!salvaged.ok()) return parsed.error();
    root = std::move(salvaged->entries);
    cutShort = !salvaged->problems.empty();
    contents.skipped = std::move(salvaged->problems);
  }

  auto settingsEntry = root.find(kDocumentSettingsKey);
  if (settingsEntry == root.end() || settingsEntry->second.isNone()) {
    if (cutShort) {
      contents.skipped.push_back(std::string("the playlist's settings (") + inQuotes(kDocumentSettingsKey) +
                                 ") are missing; they keep their defaults and the playlist gets a new unique ID");
    } else {
      contents.isLegacy = true;
    }
  } else if (const Dictionary* settings = settingsEntry->second.dictionary()) {
    contents.settings = readSettings(*settings, contents.skipped);
    contents.isLegacy = !settings->contains(kPlaylistUniqueIDKey) && !settings->contains(kABRollKey);
  } else {
    contents.skipped.push_back("the entry " + inQuotes(kDocumentSettingsKey) + " is left out: it holds " +
                               platform::typeName(settingsEntry->second.type()) +
                               ", not a dictionary; the settings keep their defaults");
  }
  if (contents.isLegacy) {
    contents.legacyRoot = std::move(root);
    return contents;
  }

  std::map<std::uint64_t, const Value*> rows;
  for (const auto& [key, value] : root) {
    if (key == kDocumentSettingsKey) continue;
    if (std::optional<std::uint64_t> index = clipEntryIndex(key)) {
      rows.emplace(*index, &value);
    } else {
      contents.skipped.push_back("the entry " + inQuotes(key) + " is not part of a playlist and is left out");
    }
  }
  readRows(rows, contents);
  return contents;
}

Dictionary playlistFileRoot(const PlaylistDocumentSettings& settings,
                            const std::vector<std::shared_ptr<PlaylistItem>>& items) {
  Dictionary root;
  root.emplace(kDocumentSettingsKey, settings.dictionary());
  for (std::size_t i = 0; i < items.size(); ++i) root.emplace(clipEntryKey(i), items[i]->dictionary());
  return root;
}

platform::Result<std::string> writePlaylistFile(const PlaylistDocumentSettings& settings,
                                                const std::vector<std::shared_ptr<PlaylistItem>>& items) {
  return platform::writePropertyList(Value(playlistFileRoot(settings, items)));
}

}  // namespace nodes
