// The four encodings of a playlist item: document dictionary, node
// dictionary, keyed archive and catalogue records, all in the "clipInfo" key
// vocabulary (nodes/media/ClipInfoKeys.h).

#include <cfloat>
#include <cstdint>
#include <limits>

#include "foundation/GenerateUniqueID.h"
#include "nodes/media/ClipInfoKeys.h"
#include "nodes/media/DictionaryFieldReader.h"
#include "nodes/media/NodeModelErrors.h"
#include "nodes/playlist/PlaylistItem.h"
#include "platform/Diagnostics.h"

namespace nodes {
namespace {

using namespace clipinfo;
using detail::DictionaryFieldReader;
using platform::Value;
using Fields = PlaylistItemFields;
using Entries = std::vector<std::pair<std::string, Value>>;

enum class Form { Document, Archive, Catalogue };

Value floatValue(float value) { return Value(static_cast<double>(value)); }

// The entries of a document, archive or catalogue form, in the vocabulary's
// order. A none value stands for "the item has none": writers leave it out.
Entries clipInfoEntries(const Fields& f, Form form) {
  const bool catalogue = form == Form::Catalogue;
  // The catalogue keeps strings as strings: an unset one is stored as "".
  auto text = [&](const std::optional<std::string>& s) { return s ? Value(*s) : catalogue ? Value("") : Value(); };
  auto date = [](const std::optional<platform::Date>& d) { return d ? Value(*d) : Value(); };

  Entries e;
  if (!catalogue && f.attributes) e.emplace_back(kAttributes, *f.attributes);
  e.emplace_back(kHasInPoint, f.hasInPoint());
  e.emplace_back(kHasOutPoint, f.hasOutPoint());
  e.emplace_back(kOnline, f.online);
  e.emplace_back(kInPointInSeconds, f.inPointInSeconds);
  e.emplace_back(kOutPointInSeconds, f.outPointInSeconds);
  e.emplace_back(kMediaFolderUniqueID, f.mediaFolderUniqueID);
  e.emplace_back(kMediaItemUniqueID, text(f.mediaItemUniqueID));
  e.emplace_back(kMediaFileDurationInSeconds, f.mediaItemDurationInSeconds);
  e.emplace_back(kNodeName, f.nodeName);
  e.emplace_back(kNodeUniqueID, f.nodeUniqueID);
  e.emplace_back(kMediaFolderPath, f.mediaFolderPath);
  e.emplace_back(kAbsolutePathToMediaItem, f.absolutePathToMediaItem);
  e.emplace_back(kRelativePathToMediaItem, f.relativePathToMediaItem);
  e.emplace_back(kDisplayName, f.displayName);
  if (!catalogue) e.emplace_back(kLanguages, platform::Array(f.languages.begin(), f.languages.end()));
  e.emplace_back(kLastModificationDate, date(f.lastModificationDate));
  e.emplace_back(kLastModificationDateString, text(f.lastModificationDateAsString));
  e.emplace_back(kUniqueID, text(f.uniqueID));
  if (!catalogue) e.emplace_back(kPlaybackUniqueID, text(f.playbackUniqueID));
  e.emplace_back(kValidationStatus, f.validationStatus);
  e.emplace_back(kDurationInSeconds, f.durationInSeconds());
  e.emplace_back(kFramesPerSecond, f.framesPerSecond);
  e.emplace_back(kDropFrame, f.dropFrame);
  e.emplace_back(kVideoCodecDescription, f.videoCodecDescription);
  e.emplace_back(kInvalidReason, f.invalidReason);
  e.emplace_back(kFinderLabelIndex, f.finderLabelIndex);
  e.emplace_back(kFinderLabelName, f.finderLabelName);
  e.emplace_back(kNaturalVideoSizeWidth, floatValue(f.naturalSizeWidth));
  e.emplace_back(kNaturalVideoSizeHeight, floatValue(f.naturalSizeHeight));
  e.emplace_back(kDisplayVideoSizeWidth, floatValue(f.displaySizeWidth));
  e.emplace_back(kDisplayVideoSizeHeight, floatValue(f.displaySizeHeight));
  e.emplace_back(kDisplayVideoOriginX, floatValue(f.displayOriginX));
  e.emplace_back(kDisplayVideoOriginY, floatValue(f.displayOriginY));
  e.emplace_back(kLanguagesDescription, f.languagesDescription);
  e.emplace_back(kStartTimeCode, f.mediaItemStartTimeCodeOrUnset());
  if (!catalogue && f.thumbnail) {
    platform::Result<platform::Data> tiff = tiffDataFromImage(*f.thumbnail);
    if (tiff.ok()) {
      e.emplace_back(kThumbnail, std::move(*tiff));
    } else {
      platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                                 "PlaylistItem: thumbnail left out: " + tiff.error().localizedDescription);
    }
  }
  return e;
}

// Problems found beside the field reader's (thumbnail, metadata), merged
// into one error that names every refused key.
class ReadProblems {
 public:
  void add(std::string key, std::string problem) {
    keys_.emplace_back(std::move(key));
    problems_.push_back(std::move(problem));
  }
  platform::Status merged(const platform::Status& readerStatus) const {
    if (problems_.empty()) return readerStatus;
    platform::Error error = readerStatus.ok() ? platform::Error(kNodeModelErrorDomain, NodeModelErrorCode::WrongType,
                                                                "PlaylistItem: refused ")
                                              : readerStatus.error();
    platform::Value& keys = error.userInfo[kNodeModelErrorKeysKey];
    platform::Array allKeys = keys.array() ? *keys.array() : platform::Array{};
    for (std::size_t i = 0; i < problems_.size(); ++i) {
      if (!readerStatus.ok() || i > 0) error.localizedDescription += "; ";
      error.localizedDescription += problems_[i];
      allKeys.emplace_back(keys_[i]);
    }
    keys = Value(std::move(allKeys));
    return error;
  }

 private:
  std::vector<std::string> keys_;
  std::vector<std::string> problems_;
};

enum class Source { Document, Catalogue };

constexpr double kAnyDouble = std::numeric_limits<double>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

template <typename T, typename Optional>
void assign(T& field, Optional&& value) {
  if (value) field = static_cast<T>(std::move(*value));
}

// The seconds are read first, then the flag: a missing or false flag means
// no point. With neither key the point stays as it was.
void readPoint(DictionaryFieldReader& reader, const char* secondsKey, const char* flagKey, double& point) {
  const std::optional<double> seconds = reader.real(secondsKey, -kAnyDouble, kAnyDouble);
  const std::optional<bool> flag = reader.boolean(flagKey);
  if (!reader.contains(secondsKey) && !reader.contains(flagKey)) return;
  point = flag.value_or(false) ? seconds.value_or(0.0) : kNoPoint;
}

std::shared_ptr<const RGBAImage> readThumbnail(const Value* entry, ReadProblems& problems) {
  if (!entry || entry->isNone()) return nullptr;
  const platform::Data* data = entry->data();
  if (!data) {
    problems.add(kThumbnail, std::string("\"") + kThumbnail + "\": expected data, found " +
                                 platform::typeName(entry->type()));
    return nullptr;
  }
  platform::Result<RGBAImage> image = imageFromTiffData(*data);
  if (!image.ok()) {
    problems.add(kThumbnail, std::string("\"") + kThumbnail + "\": " + image.error().localizedDescription);
    return nullptr;
  }
  return std::make_shared<const RGBAImage>(std::move(*image));
}

// "clipInfoMetadata" of a document: the catalogue's row dictionaries.
std::optional<std::vector<Metadata>> readMetadataRows(const Value* entry, ReadProblems& problems) {
  if (!entry || entry->isNone()) return std::nullopt;
  const platform::Array* rows = entry->array();
  if (!rows) {
    problems.add(kMetadata, std::string("\"") + kMetadata + "\": expected an array of dictionaries");
    return std::nullopt;
  }
  std::vector<Metadata> metadata;
  for (const Value& row : *rows) {
    const platform::Dictionary* fields = row.dictionary();
    if (!fields) {
      problems.add(kMetadata, std::string("\"") + kMetadata + "\": expected an array of dictionaries");
      return std::nullopt;
    }
    metadata.push_back(Metadata::fromRow(*fields));
  }
  return metadata;
}

// Reads the keys a source carries into `f`; keys that are missing or refused
// leave their field as it was.
void readClipInfo(DictionaryFieldReader& r, Fields& f, Source source) {
  const bool document = source == Source::Document;
  if (document) assign(f.attributes, r.dictionary(kAttributes));
  assign(f.mediaItemDurationInSeconds, r.real(kMediaFileDurationInSeconds, -kAnyDouble, kAnyDouble));
  assign(f.displayName, r.string(kDisplayName));
  readPoint(r, kInPointInSeconds, kHasInPoint, f.inPointInSeconds);
  readPoint(r, kOutPointInSeconds, kHasOutPoint, f.outPointInSeconds);
  assign(f.online, r.boolean(kOnline));
  assign(f.dropFrame, r.boolean(kDropFrame));
  assign(f.finderLabelIndex, r.integer(kFinderLabelIndex, std::numeric_limits<std::int64_t>::min(),
                                       std::numeric_limits<std::int64_t>::max()));
  assign(f.finderLabelName, r.string(kFinderLabelName));
  assign(f.framesPerSecond, r.real(kFramesPerSecond, -kAnyDouble, kAnyDouble));
  assign(f.invalidReason, r.integer(kInvalidReason, kInt32Min, kInt32Max));
  if (std::optional<platform::Date> modified = r.date(kLastModificationDate)) {
    f.lastModificationDate = modified;
    f.lastModificationDateAsString = PlaylistItem::dateToString(*modified);
  }
  if (!document) assign(f.creationDate, r.date(kCreationDate));
  assign(f.mediaFolderPath, r.string(kMediaFolderPath));
  assign(f.mediaFolderUniqueID, r.string(kMediaFolderUniqueID));
  assign(f.naturalSizeHeight, r.real(kNaturalVideoSizeHeight, -FLT_MAX, FLT_MAX));
  assign(f.naturalSizeWidth, r.real(kNaturalVideoSizeWidth, -FLT_MAX, FLT_MAX));
  assign(f.displaySizeHeight, r.real(kDisplayVideoSizeHeight, -FLT_MAX, FLT_MAX));
  assign(f.displaySizeWidth, r.real(kDisplayVideoSizeWidth, -FLT_MAX, FLT_MAX));
  assign(f.displayOriginX, r.real(kDisplayVideoOriginX, -FLT_MAX, FLT_MAX));
  assign(f.displayOriginY, r.real(kDisplayVideoOriginY, -FLT_MAX, FLT_MAX));
  assign(f.absolutePathToMediaItem, r.string(kAbsolutePathToMediaItem));
  assign(f.relativePathToMediaItem, r.string(kRelativePathToMediaItem));
  assign(f.mediaItemUniqueID, r.string(kMediaItemUniqueID));
  assign(f.validationStatus, r.integer(kValidationStatus, kInt32Min, kInt32Max));
  assign(f.videoCodecDescription, r.string(kVideoCodecDescription));
  const std::optional<std::string> nodeName = r.string(kNodeName);
  if (!nodeName) platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "nodeName is nil");
  assign(f.nodeName, nodeName);
  assign(f.nodeUniqueID, r.string(kNodeUniqueID));
  assign(f.languagesDescription, r.string(kLanguagesDescription));
  assign(f.mediaItemStartTimeCode, r.string(kStartTimeCode));
  if (document) {
    assign(f.languages, r.stringArray(kLanguages));
    assign(f.uniqueID, r.string(kUniqueID));
    assign(f.playbackUniqueID, r.string(kPlaybackUniqueID));
  }
}

// What an item read from a document or an archive starts from: zero values,
// except the volume, which is the default 1.0 (no encoding carries it).
Fields zeroFields() {
  Fields f;
  f.attributes.reset();
  f.invalidReason = 0;
  f.mediaItemStartTimeCode.reset();
  f.audioVolume = 1.0;
  return f;
}

void giveMissingPlaybackUniqueID(Fields& f) {
  if (!f.playbackUniqueID || f.playbackUniqueID->empty()) {
    f.playbackUniqueID = foundation::GenerateUniqueID::generateUniqueID();
  }
}

void reportProblems(const platform::Status& status, platform::Status* problems) {
  if (!status.ok()) platform::reportDiagnostic(platform::DiagnosticLevel::Warning, status.error().localizedDescription);
  if (problems) *problems = status;
}

}  // namespace

// ---- Writers ----

platform::Dictionary PlaylistItem::dictionary() const {
  platform::Dictionary dictionary;
  for (auto& [key, value] : clipInfoEntries(fields(), Form::Document)) {
    if (!value.isNone()) dictionary.insert_or_assign(key, std::move(value));
  }
  return dictionary;
}

const std::vector<std::string>& PlaylistItem::nodeDictionaryKeys() {
  static const std::vector<std::string> keys = {kAttributes,
                                                kHasInPoint,
                                                kHasOutPoint,
                                                kInPointInSeconds,
                                                kOutPointInSeconds,
                                                kDisplayVideoOriginX,
                                                kDisplayVideoOriginY,
                                                kDisplayVideoSizeWidth,
                                                kDisplayVideoSizeHeight,
                                                kMediaFolderUniqueID,
                                                kMediaItemUniqueID,
                                                kAbsolutePathToMediaItem,
                                                kDisplayName,
                                                kUniqueID,
                                                kPlaybackUniqueID};
  return keys;
}

std::vector<std::pair<std::string, platform::Value>> PlaylistItem::orderedDictionaryForNode() {
  Fields f;
  // The item keeps the unique ID the node receives.
  update([&](Fields& fields) {
    if (!fields.uniqueID || fields.uniqueID->empty())
      fields.uniqueID = foundation::GenerateUniqueID::generateUniqueID();
    f = fields;
  });
  // Node dictionaries hold no none values: an unset string goes as "".
  return {
      {kAttributes, f.attributes ? Value(*f.attributes) : Value(platform::Dictionary{})},
      {kHasInPoint, f.hasInPoint()},
      {kHasOutPoint, f.hasOutPoint()},
      {kInPointInSeconds, f.finalInPointInSeconds()},
      {kOutPointInSeconds, f.finalOutPointInSeconds()},
      {kDisplayVideoOriginX, floatValue(f.displayOriginX)},
      {kDisplayVideoOriginY, floatValue(f.displayOriginY)},
      {kDisplayVideoSizeWidth, floatValue(f.displaySizeWidth)},
      {kDisplayVideoSizeHeight, floatValue(f.displaySizeHeight)},
      {kMediaFolderUniqueID, f.mediaFolderUniqueID},
      {kMediaItemUniqueID, f.mediaItemUniqueID.value_or("")},
      {kAbsolutePathToMediaItem, f.absolutePathToMediaItem},
      {kDisplayName, f.displayName},
      {kUniqueID, *f.uniqueID},
      {kPlaybackUniqueID, f.playbackUniqueID.value_or("")},
  };
}

platform::Dictionary PlaylistItem::dictionaryForNode() {
  platform::Dictionary dictionary;
  for (auto& [key, value] : orderedDictionaryForNode()) dictionary.insert_or_assign(std::move(key), std::move(value));
  return dictionary;
}

void PlaylistItem::encode(platform::KeyedArchiveEncoder& encoder) const {
  const Fields f = fields();
  for (auto& [key, value] : clipInfoEntries(f, Form::Archive)) {
    if (!value.isNone()) encoder.encodeValue(key, std::move(value));
  }
  std::vector<const platform::Archivable*> metadata;
  metadata.reserve(f.metadataArray.size());
  for (const Metadata& entry : f.metadataArray) metadata.push_back(&entry);
  encoder.encodeObjects(kMetadata, metadata);
}

void PlaylistItem::fillCoreDataClipEntity(platform::Dictionary& clip) const {
  for (auto& [key, value] : clipInfoEntries(fields(), Form::Catalogue)) {
    // Only dates can be unset here; the record then has none.
    if (value.isNone()) {
      clip.erase(key);
    } else {
      clip.insert_or_assign(key, std::move(value));
    }
  }
}

void PlaylistItem::fillCoreDataAttributeEntity(platform::Dictionary& record, const std::string& attributeName) const {
  const std::optional<platform::Dictionary> values = attributes();
  record.insert_or_assign(kAttributeNameKey, Value(attributeName));
  const Value* value = nullptr;
  if (values) {
    auto entry = values->find(attributeName);
    if (entry != values->end() && !entry->second.isNone()) value = &entry->second;
  }
  if (value) {
    record.insert_or_assign(kAttributeValueKey, *value);
  } else {
    record.erase(kAttributeValueKey);
  }
}

// ---- Readers ----

namespace {

std::shared_ptr<PlaylistItem> itemFromDocumentEntry(DictionaryFieldReader& reader, platform::Status* problems) {
  Fields f = zeroFields();
  ReadProblems more;
  readClipInfo(reader, f, Source::Document);
  f.thumbnail = readThumbnail(reader.entry(kThumbnail), more);
  if (auto metadata = readMetadataRows(reader.entry(kMetadata), more)) f.metadataArray = std::move(*metadata);
  giveMissingPlaybackUniqueID(f);
  reportProblems(more.merged(reader.status()), problems);
  return std::make_shared<PlaylistItem>(std::move(f));
}

}  // namespace

std::shared_ptr<PlaylistItem> PlaylistItem::initWithDictionary(const platform::Dictionary& dictionary,
                                                               platform::Status* problems) {
  DictionaryFieldReader reader(dictionary, "PlaylistItem dictionary");
  return itemFromDocumentEntry(reader, problems);
}

std::shared_ptr<PlaylistItem> PlaylistItem::initWithSortedEntries(
    const std::vector<std::pair<std::string_view, const platform::Value*>>& entries, platform::Status* problems,
    detail::DictionaryLookupMemo* memo) {
  DictionaryFieldReader reader(entries, "PlaylistItem dictionary", memo);
  return itemFromDocumentEntry(reader, problems);
}

platform::Result<std::shared_ptr<platform::Archivable>> PlaylistItem::decode(
    const platform::KeyedArchiveDecoder& decoder) {
  // The archived values, read by the same rules as a document entry.
  platform::Dictionary values;
  for (const char* key : {kAttributes,
                          kHasInPoint,
                          kHasOutPoint,
                          kOnline,
                          kInPointInSeconds,
                          kOutPointInSeconds,
                          kMediaFolderUniqueID,
                          kMediaItemUniqueID,
                          kMediaFileDurationInSeconds,
                          kNodeName,
                          kNodeUniqueID,
                          kMediaFolderPath,
                          kAbsolutePathToMediaItem,
                          kRelativePathToMediaItem,
                          kDisplayName,
                          kLanguages,
                          kLastModificationDate,
                          kUniqueID,
                          kPlaybackUniqueID,
                          kValidationStatus,
                          kFramesPerSecond,
                          kDropFrame,
                          kVideoCodecDescription,
                          kInvalidReason,
                          kFinderLabelIndex,
                          kFinderLabelName,
                          kNaturalVideoSizeWidth,
                          kNaturalVideoSizeHeight,
                          kDisplayVideoSizeWidth,
                          kDisplayVideoSizeHeight,
                          kDisplayVideoOriginX,
                          kDisplayVideoOriginY,
                          kLanguagesDescription,
                          kStartTimeCode,
                          kThumbnail}) {
    if (decoder.contains(key)) values.insert_or_assign(key, decoder.value(key));
  }
  Fields f = zeroFields();
  DictionaryFieldReader reader(values, "PlaylistItem archive");
  ReadProblems more;
  readClipInfo(reader, f, Source::Document);
  const auto thumbnail = values.find(kThumbnail);
  f.thumbnail = readThumbnail(thumbnail == values.end() ? nullptr : &thumbnail->second, more);
  const platform::Status status = more.merged(reader.status());
  if (!status.ok()) {
    const platform::Dictionary& userInfo = status.error().userInfo;
    auto keys = userInfo.find(kNodeModelErrorKeysKey);
    const platform::Array* refused = keys == userInfo.end() ? nullptr : keys->second.array();
    const std::string firstKey = refused && !refused->empty() ? refused->front().stringOr("") : std::string();
    return decoder.error(firstKey, status.error().localizedDescription);
  }
  if (decoder.contains(kMetadata)) {
    auto metadata = decoder.decodeObjectsAs<Metadata>(kMetadata);
    if (!metadata.ok()) return metadata.error();
    for (const std::shared_ptr<Metadata>& entry : *metadata) f.metadataArray.push_back(*entry);
  }
  giveMissingPlaybackUniqueID(f);
  return std::shared_ptr<platform::Archivable>(std::make_shared<PlaylistItem>(std::move(f)));
}

void PlaylistItem::registerArchiveClass(platform::KeyedArchiveRegistry& registry) {
  registry.registerClass(kClassName, &PlaylistItem::decode);
  Metadata::registerArchiveClass(registry);
}

std::shared_ptr<PlaylistItem> PlaylistItem::initWithCoreDataEntity(const platform::Dictionary& clip,
                                                                   platform::Status* problems) {
  auto item = std::make_shared<PlaylistItem>();
  Fields f = item->fields();
  DictionaryFieldReader reader(clip, "PlaylistItem catalogue record");
  readClipInfo(reader, f, Source::Catalogue);
  const std::optional<std::string> uniqueID = reader.string(kUniqueID);
  if (uniqueID && !uniqueID->empty()) f.uniqueID = uniqueID;
  reportProblems(reader.status(), problems);
  item->update([&](Fields& fields) { fields = std::move(f); });
  return item;
}

void PlaylistItem::updateWithCoreDataEntity(const platform::Dictionary& clip, platform::Status* problems) {
  DictionaryFieldReader reader(clip, "PlaylistItem catalogue record");
  update([&](Fields& f) { readClipInfo(reader, f, Source::Catalogue); });
  reportProblems(reader.status(), problems);
}

}  // namespace nodes
