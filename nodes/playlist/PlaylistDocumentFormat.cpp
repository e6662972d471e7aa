#include "nodes/playlist/PlaylistDocumentFormat.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <deque>
#include <functional>
#include <map>
#include <new>
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

// How one "Clip N" entry becomes a row: its item (problems noted), or none
// with the type it held instead of a dictionary in `notADictionary`.
using ReadRow = std::function<std::shared_ptr<PlaylistItem>(std::uint64_t index, platform::Status& problems,
                                                            const char*& notADictionary)>;

// The "Clip N" entries of `indexes` (ascending, each once) in numeric order.
void readRows(const std::vector<std::uint64_t>& indexes, const ReadRow& readRow, PlaylistFileContents& contents) {
  std::set<std::string> playbackUniqueIDs;
  std::uint64_t expected = 0;
  for (const std::uint64_t index : indexes) {
    if (index > expected) contents.skipped.push_back(gapProblem(expected, index - 1));
    expected = index + 1;
    const std::string key = clipEntryKey(index);
    platform::Status problems;
    const char* notADictionary = nullptr;
    std::shared_ptr<PlaylistItem> item = readRow(index, problems, notADictionary);
    if (!item) {
      contents.skipped.push_back("the entry " + inQuotes(key) + " is left out: it holds " + notADictionary +
                                 ", not a dictionary");
      continue;
    }
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

std::string notPartOfAPlaylist(std::string_view key) {
  return "the entry " + inQuotes(key) + " is not part of a playlist and is left out";
}

// The reader for files in the plain form writers produce: rows are read
// straight from the bytes, entry by entry, with no dictionary built per row
// or for the root. It gives up (none) on whatever it does not read exactly
// as readPlaylistFile's general path would: a file that is not in that form
// or is damaged, a legacy playlist, settings that are not a dictionary, and
// a root key that appears twice. Nothing is reported before it has read the
// whole file, so giving up leaves no trace.
class PlainPlaylistFileReader final : public platform::PropertyListRecordVisitor {
 public:
  std::optional<PlaylistFileContents> read(std::string_view data) {
    // An entry takes at least this many bytes of the file: for files of up
    // to some thousand rows one allocation holds every entry, and none is
    // moved while the file is read. Larger files grow the buffer as usual.
    constexpr std::size_t kLeastBytesPerEntry = 48;
    constexpr std::size_t kMostEntriesReserved = std::size_t{1} << 18;
    entries_.reserve(std::min(data.size() / kLeastBytesPerEntry, kMostEntriesReserved));
    if (!platform::visitPlainPropertyListRecords(data, *this) || repeatedRootKey_) return std::nullopt;
    const Dictionary* settings = settings_.dictionary();
    if (!settings || (!settings->contains(kPlaylistUniqueIDKey) && !settings->contains(kABRollKey))) {
      return std::nullopt;
    }
    PlaylistFileContents contents;
    contents.settings = readSettings(*settings, contents.skipped);
    std::sort(otherKeys_.begin(), otherKeys_.end());
    for (const std::string& key : otherKeys_) contents.skipped.push_back(notPartOfAPlaylist(key));
    std::vector<std::uint32_t> byKey(keys_.size());
    for (std::uint32_t id = 0; id < byKey.size(); ++id) byKey[id] = id;
    std::sort(byKey.begin(), byKey.end(), [this](std::uint32_t a, std::uint32_t b) { return keys_[a] < keys_[b]; });
    keyRanks_.resize(keys_.size());
    for (std::uint32_t rank = 0; rank < byKey.size(); ++rank) keyRanks_[byKey[rank]] = rank;
    std::vector<std::uint64_t> indexes;
    indexes.reserve(rows_.size());
    for (const auto& [index, row] : rows_) indexes.push_back(index);
    readRows(indexes, [this](std::uint64_t index, platform::Status& problems, const char*& notADictionary) {
      return readRow(rows_.at(index), problems, notADictionary);
    }, contents);
    return contents;
  }

  bool takesRecord(std::string_view key) override {
    const std::optional<std::uint64_t> index = clipEntryIndex(key);
    if (!index) return false;
    recordIndex_ = *index;
    recordBegin_ = entries_.size();
    expectedKey_ = 0;
    return true;
  }

  void recordEntry(std::string_view key, Value&& value) override { entries_.push_back({keyID(key), std::move(value)}); }

  void endRecord() override { addRow(recordIndex_, Row{recordBegin_, entries_.size(), {}}); }

  void entry(std::string_view key, Value&& value) override {
    if (key == kDocumentSettingsKey) {
      repeatedRootKey_ = repeatedRootKey_ || !settings_.isNone();
      settings_ = std::move(value);
    } else if (const std::optional<std::uint64_t> index = clipEntryIndex(key)) {
      addRow(*index, Row{0, 0, std::move(value)});
    } else {
      repeatedRootKey_ = repeatedRootKey_ || std::find(otherKeys_.begin(), otherKeys_.end(), key) != otherKeys_.end();
      otherKeys_.emplace_back(key);
    }
  }

 private:
  struct Entry {
    std::uint32_t key;  // into keys_
    Value value;
  };
  // A record's entries [begin, end), or the value of an entry that is not a
  // dictionary.
  struct Row {
    std::size_t begin = 0;
    std::size_t end = 0;
    Value notADictionary;
  };

  void addRow(std::uint64_t index, Row row) {
    repeatedRootKey_ = !rows_.emplace(index, std::move(row)).second || repeatedRootKey_;
  }

  // Rows list the same keys in the same order, so the key after the last
  // one seen is nearly always the next; the map serves the rest.
  std::uint32_t keyID(std::string_view key) {
    std::uint32_t id = expectedKey_;
    if (id >= keys_.size() || keys_[id] != key) {
      const auto found = keyIDs_.find(key);
      if (found != keyIDs_.end()) {
        id = found->second;
      } else {
        id = static_cast<std::uint32_t>(keys_.size());
        keys_.emplace_back(key);
        keyIDs_.emplace(keys_.back(), id);
      }
    }
    expectedKey_ = id + 1;
    return id;
  }

  std::shared_ptr<PlaylistItem> readRow(const Row& row, platform::Status& problems, const char*& notADictionary) {
    if (!row.notADictionary.isNone()) {
      notADictionary = platform::typeName(row.notADictionary.type());
      return nullptr;
    }
    // Keys compare by their rank among all keys of the file.
    ranked_.clear();
    bool ascending = true;
    for (std::size_t i = row.begin; i < row.end; ++i) {
      const std::uint32_t rank = keyRanks_[entries_[i].key];
      ascending = ascending && (ranked_.empty() || ranked_.back().first < rank);
      ranked_.emplace_back(rank, i);
    }
    if (!ascending) {
      // A repeated key: the last one wins, as in a dictionary read from the file.
      std::stable_sort(ranked_.begin(), ranked_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      std::reverse(ranked_.begin(), ranked_.end());
      ranked_.erase(std::unique(ranked_.begin(), ranked_.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    ranked_.end());
      std::reverse(ranked_.begin(), ranked_.end());
    }
    sorted_.clear();
    for (const auto& [rank, i] : ranked_) sorted_.emplace_back(keys_[entries_[i].key], &entries_[i].value);
    return PlaylistItem::initWithSortedEntries(sorted_, &problems, &lookups_);
  }

  Value settings_;
  std::vector<std::string> otherKeys_;
  std::map<std::uint64_t, Row> rows_;
  std::vector<Entry> entries_;
  std::deque<std::string> keys_;  // a deque: the map's keys point into it
  std::map<std::string_view, std::uint32_t> keyIDs_;
  std::vector<std::uint32_t> keyRanks_;  // by key ID: place of the key in sorted order
  std::vector<std::pair<std::uint32_t, std::size_t>> ranked_;  // (rank, entry) of the row being read
  std::vector<std::pair<std::string_view, const Value*>> sorted_;
  detail::DictionaryLookupMemo lookups_;  // rows share their keys: where the last row's were found
  std::uint64_t recordIndex_ = 0;
  std::size_t recordBegin_ = 0;
  std::uint32_t expectedKey_ = 0;
  bool repeatedRootKey_ = false;
};

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
  try {
    if (std::optional<PlaylistFileContents> plain = PlainPlaylistFileReader().read(data)) return std::move(*plain);
  } catch (const std::bad_alloc&) {
    // The general reader below reports what memory allows.
  }
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
      contents.skipped.push_back(notPartOfAPlaylist(key));
    }
  }
  std::vector<std::uint64_t> indexes;
  indexes.reserve(rows.size());
  for (const auto& [index, value] : rows) indexes.push_back(index);
  readRows(indexes, [&rows](std::uint64_t index, platform::Status& problems, const char*& notADictionary) {
    const Value& value = *rows.at(index);
    const Dictionary* dictionary = value.dictionary();
    if (!dictionary) {
      notADictionary = platform::typeName(value.type());
      return std::shared_ptr<PlaylistItem>();
    }
    return PlaylistItem::initWithDictionary(*dictionary, &problems);
  }, contents);
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
