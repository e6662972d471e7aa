#include "platform/KeyedArchive.h"

#include <algorithm>

#include "platform/PropertyList.h"
#include "platform/PropertyListDetail.h"

namespace platform {

namespace detail {

// One object's dictionary written as XML while its encode() runs. Entries
// arrive in the encoder's order but are laid out in key order, so each entry
// (key element and value) is kept as a range of one text and finish() copies
// the ranges in order.
class KeyedArchiveXmlObject {
 public:
  explicit KeyedArchiveXmlObject(int level) : level_(level), scratch_(takeScratch()) {}
  ~KeyedArchiveXmlObject() { giveBack(std::move(scratch_)); }
  KeyedArchiveXmlObject(const KeyedArchiveXmlObject&) = delete;
  KeyedArchiveXmlObject& operator=(const KeyedArchiveXmlObject&) = delete;

  int valueLevel() const { return level_ + 1; }

  // Starts an entry whose value the caller appends to the returned text.
  std::string& beginEntry(std::string_view key) {
    std::string& text = scratch_.text;
    scratch_.entries.push_back({scratch_.keys.size(), key.size(), text.size(), text.size()});
    scratch_.keys.append(key);
    isWritable_ = appendXmlKey(text, key, valueLevel()) && isWritable_;
    return text;
  }
  void endEntry(bool written) {
    scratch_.entries.back().end = scratch_.text.size();
    isWritable_ = written && isWritable_;
  }
  void addValue(std::string_view key, const Value& value) {
    std::string& text = beginEntry(key);
    endEntry(appendXmlValue(text, value, valueLevel()));
  }

  // An array of objects, its elements at elementLevel().
  std::string& beginArray(std::string_view key, bool isEmpty) {
    std::string& text = beginEntry(key);
    text.append(static_cast<std::size_t>(valueLevel()), '\t');
    text.append(isEmpty ? "<array/>\n" : "<array>\n");
    return text;
  }
  int elementLevel() const { return valueLevel() + 1; }
  void endArray(bool written, bool isEmpty) {
    if (!isEmpty) {
      scratch_.text.append(static_cast<std::size_t>(valueLevel()), '\t');
      scratch_.text.append("</array>\n");
    }
    endEntry(written);
  }

  // Appends the dictionary; of repeated keys the last one wins, as in a tree.
  bool finish(std::string& out) {
    if (!isWritable_) return false;
    std::vector<Entry>& entries = scratch_.entries;
    std::sort(entries.begin(), entries.end(), [this](const Entry& a, const Entry& b) {
      const int order = key(a).compare(key(b));
      return order != 0 ? order < 0 : a.begin < b.begin;
    });
    out.append(static_cast<std::size_t>(level_), '\t');
    out.append("<dict>\n");
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i + 1 < entries.size() && key(entries[i + 1]) == key(entries[i])) continue;
      out.append(scratch_.text, entries[i].begin, entries[i].end - entries[i].begin);
    }
    out.append(static_cast<std::size_t>(level_), '\t');
    out.append("</dict>\n");
    return true;
  }

  // At least the length finish() appends, less the dictionary's own lines.
  std::size_t entriesLength() const { return scratch_.text.size(); }

 private:
  struct Entry {
    std::size_t keyBegin;  // in keys
    std::size_t keyLength;
    std::size_t begin;  // in text
    std::size_t end;
  };
  struct Scratch {
    std::string text;
    std::string keys;
    std::vector<Entry> entries;
  };

  // Archives are written for every log a channel takes: reusing each
  // thread's buffers spares the allocator, which dominated their cost.
  static std::vector<Scratch>& pool() {
    thread_local std::vector<Scratch> scratches;
    return scratches;
  }
  static Scratch takeScratch() {
    std::vector<Scratch>& scratches = pool();
    if (scratches.empty()) return Scratch{};
    Scratch scratch = std::move(scratches.back());
    scratches.pop_back();
    return scratch;
  }
  // A buffer grown by a large archive is let go rather than kept for good.
  static void giveBack(Scratch scratch) {
    constexpr std::size_t kLargestKept = 64 * 1024;
    if (scratch.text.capacity() > kLargestKept || scratch.keys.capacity() > kLargestKept) return;
    scratch.text.clear();
    scratch.keys.clear();
    scratch.entries.clear();
    pool().push_back(std::move(scratch));
  }

  std::string_view key(const Entry& entry) const {
    return std::string_view(scratch_.keys).substr(entry.keyBegin, entry.keyLength);
  }

  int level_;
  Scratch scratch_;
  bool isWritable_ = true;
};

}  // namespace detail

namespace {

constexpr const char* kArchiverKey = "$archiver";
constexpr const char* kVersionKey = "$version";
constexpr const char* kTopKey = "$top";
constexpr const char* kClassKey = "$class";

Error archiveError(KeyedArchiveErrorCode code, std::string_view what, const std::string& path) {
  return Error(kKeyedArchiveErrorDomain, code, std::string(what) + " (at " + path + ")",
               Dictionary{{kKeyedArchiveKeyPathKey, Value(path)}});
}

std::string joinPath(const std::string& path, std::string_view key) {
  std::string joined = path;
  joined.push_back('.');
  joined.append(key);
  return joined;
}

}  // namespace

// ---------------------------------------------------------------------------
// Encoder

void KeyedArchiveEncoder::fail(const std::string& path, std::string_view what) {
  if (!error_->has_value()) *error_ = archiveError(KeyedArchiveErrorCode::UnsupportedValue, what, path);
}

bool KeyedArchiveEncoder::acceptKey(std::string_view key) {
  if (error_->has_value()) return false;
  if (key.empty()) {
    fail(path_, "an empty key cannot be encoded");
    return false;
  }
  if (key.front() == '$') {
    fail(joinPath(path_, key), "keys starting with \"$\" belong to the archive format");
    return false;
  }
  return true;
}

const Archivable* KeyedArchiveEncoder::acceptElement(const std::vector<const Archivable*>& objects, std::size_t index,
                                                     const std::string& path) {
  if (!objects[index]) fail(path, "an array of objects holds a null object");
  return objects[index];
}

bool KeyedArchiveEncoder::acceptNesting(const std::string& path) {
  if (depth_ + 1 < kKeyedArchiveMaxDepth) return true;
  fail(path, "objects are nested too deeply (a cycle?)");
  return false;
}

void KeyedArchiveEncoder::encodeValue(std::string_view key, Value value) {
  if (!acceptKey(key) || value.isNone()) return;
  if (xml_) {
    xml_->addValue(key, value);
  } else {
    fields_.insert_or_assign(std::string(key), std::move(value));
  }
}

std::optional<Value> KeyedArchiveEncoder::encodeNested(const Archivable& object, const std::string& path) {
  if (!acceptNesting(path)) return std::nullopt;
  KeyedArchiveEncoder nested(path, depth_ + 1);
  nested.error_ = error_;
  nested.fields_.emplace(kClassKey, Value(object.className()));
  object.encode(nested);
  if (error_->has_value()) return std::nullopt;
  return Value(std::move(nested.fields_));
}

bool KeyedArchiveEncoder::writeNested(const Archivable& object, const std::string& path, int level, std::string& out) {
  if (!acceptNesting(path)) return false;
  detail::KeyedArchiveXmlObject fields(level);
  fields.addValue(kClassKey, Value(object.className()));
  KeyedArchiveEncoder nested(path, depth_ + 1);
  nested.error_ = error_;
  nested.xml_ = &fields;
  object.encode(nested);
  return !error_->has_value() && fields.finish(out);
}

void KeyedArchiveEncoder::encodeObject(std::string_view key, const Archivable& object) {
  if (!acceptKey(key)) return;
  if (xml_) {
    std::string& text = xml_->beginEntry(key);
    xml_->endEntry(writeNested(object, joinPath(path_, key), xml_->valueLevel(), text));
    return;
  }
  std::optional<Value> encoded = encodeNested(object, joinPath(path_, key));
  if (encoded) fields_.insert_or_assign(std::string(key), std::move(*encoded));
}

void KeyedArchiveEncoder::encodeObject(std::string_view key, const Archivable* object) {
  if (object) encodeObject(key, *object);
}

void KeyedArchiveEncoder::encodeObjects(std::string_view key, const std::vector<const Archivable*>& objects) {
  if (!acceptKey(key)) return;
  const std::string base = joinPath(path_, key);
  auto elementPath = [&base](std::size_t i) { return base + "[" + std::to_string(i) + "]"; };
  if (xml_) {
    std::string& text = xml_->beginArray(key, objects.empty());
    bool written = true;
    for (std::size_t i = 0; i < objects.size() && written; ++i) {
      const std::string path = elementPath(i);
      const Archivable* object = acceptElement(objects, i, path);
      written = object && writeNested(*object, path, xml_->elementLevel(), text);
    }
    xml_->endArray(written, objects.empty());
    return;
  }
  Array array;
  array.reserve(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const std::string path = elementPath(i);
    const Archivable* object = acceptElement(objects, i, path);
    if (!object) return;
    std::optional<Value> encoded = encodeNested(*object, path);
    if (!encoded) return;
    array.push_back(std::move(*encoded));
  }
  fields_.insert_or_assign(std::string(key), Value(std::move(array)));
}

// Object dictionaries and their arrays stay far below the writer's depth
// limit, so only values inside them can reach it.
static_assert(1 + 2 * kKeyedArchiveMaxDepth < kPropertyListMaxDepth);

bool KeyedArchiveEncoder::writeXml(const Archivable& root, std::string& out) {
  KeyedArchiveEncoder encoder("$archive", -1);
  encoder.error_ = std::make_shared<std::optional<Error>>();
  detail::KeyedArchiveXmlObject fields(0);
  fields.addValue(kArchiverKey, Value(kKeyedArchiverName));
  std::string& text = fields.beginEntry(kTopKey);
  fields.endEntry(encoder.writeNested(root, kTopKey, fields.valueLevel(), text));
  fields.addValue(kVersionKey, Value(kKeyedArchiveVersion));
  out.clear();
  out.reserve(detail::kXmlPrologue.size() + fields.entriesLength() + 16 + detail::kXmlEpilogue.size());
  out.append(detail::kXmlPrologue);
  if (!fields.finish(out)) return false;
  out.append(detail::kXmlEpilogue);
  return true;
}

Result<Value> archive(const Archivable& root) {
  KeyedArchiveEncoder encoder("$archive", -1);
  encoder.error_ = std::make_shared<std::optional<Error>>();
  std::optional<Value> top = encoder.encodeNested(root, kTopKey);
  if (!top) return **encoder.error_;
  // Emplaced rather than listed in braces: an initializer list would copy
  // the whole encoded tree.
  Dictionary fields;
  fields.emplace(kArchiverKey, Value(kKeyedArchiverName));
  fields.emplace(kVersionKey, Value(kKeyedArchiveVersion));
  fields.emplace(kTopKey, std::move(*top));
  return Value(std::move(fields));
}

Status archivedDataInto(const Archivable& root, std::string& bytes) {
  // Archives are written on hot paths (each log a channel takes); the tree
  // is built only to say what could not be written.
  if (KeyedArchiveEncoder::writeXml(root, bytes)) return Status::success();
  bytes.clear();
  Result<Value> archived = archive(root);
  if (!archived.ok()) return archived.error();
  Result<std::string> written = writePropertyList(*archived);
  if (!written.ok()) {
    // The property-list error names the key path inside the archive.
    return Error(kKeyedArchiveErrorDomain, KeyedArchiveErrorCode::UnsupportedValue,
                 "Archive cannot be written: " + written.error().localizedDescription, written.error().userInfo);
  }
  bytes = std::move(*written);
  return Status::success();
}

Result<std::string> archivedData(const Archivable& root) {
  std::string bytes;
  if (Status status = archivedDataInto(root, bytes); !status.ok()) return status.error();
  return bytes;
}

// ---------------------------------------------------------------------------
// Decoder

std::string KeyedArchiveDecoder::childPath(std::string_view key) const { return joinPath(path_, key); }

bool KeyedArchiveDecoder::contains(std::string_view key) const { return fields_.find(key) != fields_.end(); }

const Value& KeyedArchiveDecoder::value(std::string_view key) const {
  static const Value none;
  auto it = fields_.find(key);
  return it == fields_.end() ? none : it->second;
}

Result<Value> KeyedArchiveDecoder::requireValue(std::string_view key, Value::Type type) const {
  const Value& found = value(key);
  if (found.isNone()) return error(key, "missing " + std::string(typeName(type)));
  if (found.type() != type) {
    return error(key, "expected " + std::string(typeName(type)) + ", found " + typeName(found.type()));
  }
  return found;
}

Error KeyedArchiveDecoder::error(std::string_view key, std::string_view what, KeyedArchiveErrorCode code) const {
  return archiveError(code, what, key.empty() ? path_ : childPath(key));
}

Error KeyedArchiveDecoder::wrongClass(const std::string& path, const Archivable* object) {
  return archiveError(KeyedArchiveErrorCode::WrongClass,
                      "archived object of class \"" + (object ? object->className() : std::string("?")) +
                          "\" is not of the requested type",
                      path);
}

Result<std::shared_ptr<Archivable>> KeyedArchiveDecoder::decodeObject(std::string_view key) const {
  const Value& entry = value(key);
  if (entry.isNone()) return error(key, "no object stored");
  return decodeArchivedObject(entry, registry_, childPath(key), depth_ + 1);
}

Result<std::vector<std::shared_ptr<Archivable>>> KeyedArchiveDecoder::decodeObjects(std::string_view key) const {
  const Value& entry = value(key);
  if (entry.isNone()) return error(key, "no array of objects stored");
  const Array* array = entry.array();
  if (!array) return error(key, std::string("expected an array of objects, found ") + typeName(entry.type()));
  std::vector<std::shared_ptr<Archivable>> objects;
  objects.reserve(array->size());
  const std::string base = childPath(key);
  for (std::size_t i = 0; i < array->size(); ++i) {
    Result<std::shared_ptr<Archivable>> object =
        decodeArchivedObject((*array)[i], registry_, base + "[" + std::to_string(i) + "]", depth_ + 1);
    if (!object.ok()) return object.error();
    objects.push_back(std::move(*object));
  }
  return objects;
}

Result<std::shared_ptr<Archivable>> decodeArchivedObject(const Value& object, const KeyedArchiveRegistry& registry,
                                                         std::string path, int depth) {
  if (depth >= kKeyedArchiveMaxDepth) {
    return archiveError(KeyedArchiveErrorCode::Malformed, "objects are nested too deeply", path);
  }
  const Dictionary* fields = object.dictionary();
  if (!fields) {
    return archiveError(KeyedArchiveErrorCode::Malformed,
                        std::string("expected an object dictionary, found ") + typeName(object.type()), path);
  }
  const Value& classValue = object[kClassKey];
  const std::string* className = classValue.string();
  if (!className) {
    return archiveError(KeyedArchiveErrorCode::Malformed,
                        classValue.isNone() ? "object has no \"$class\"" : "\"$class\" is not a string", path);
  }
  KeyedArchiveRegistry::Decoder decoder = registry.decoderFor(*className);
  if (!decoder) {
    return archiveError(KeyedArchiveErrorCode::UnknownClass, "no decoder registered for class \"" + *className + "\"",
                        path);
  }
  KeyedArchiveDecoder decoderContext(*fields, *className, registry, std::move(path), depth);
  Result<std::shared_ptr<Archivable>> decoded = decoder(decoderContext);
  if (decoded.ok() && !*decoded) {
    return decoderContext.error({}, "the decoder for class \"" + *className + "\" returned no object");
  }
  return decoded;
}

Result<std::shared_ptr<Archivable>> unarchive(const Value& archive, const KeyedArchiveRegistry& registry) {
  const std::string rootPath = "the archive";
  if (!archive.isDictionary()) {
    return archiveError(KeyedArchiveErrorCode::Malformed,
                        std::string("expected an archive dictionary, found ") + typeName(archive.type()), rootPath);
  }
  const Value& archiver = archive[kArchiverKey];
  if (archiver.stringOr("") != kKeyedArchiverName) {
    return archiveError(KeyedArchiveErrorCode::Malformed,
                        "\"$archiver\" is " + (archiver.isNone() ? std::string("missing") : archiver.describe()) +
                            ", expected \"" + kKeyedArchiverName + "\"",
                        kArchiverKey);
  }
  const Value& version = archive[kVersionKey];
  if (!version.isInteger() || *version.integer() != kKeyedArchiveVersion) {
    return archiveError(KeyedArchiveErrorCode::Malformed,
                        "unsupported \"$version\" " + (version.isNone() ? std::string("(missing)") : version.describe()) +
                            ", expected " + std::to_string(kKeyedArchiveVersion),
                        kVersionKey);
  }
  if (!archive.contains(kTopKey)) {
    return archiveError(KeyedArchiveErrorCode::Malformed, "archive has no top object", kTopKey);
  }
  return decodeArchivedObject(archive[kTopKey], registry, kTopKey, 0);
}

Result<std::shared_ptr<Archivable>> unarchive(std::string_view bytes, const KeyedArchiveRegistry& registry) {
  Result<Value> value = readPropertyList(bytes);
  if (!value.ok()) {
    return Error(kKeyedArchiveErrorDomain, KeyedArchiveErrorCode::Malformed,
                 "Archive is not a property list: " + value.error().localizedDescription, value.error().userInfo);
  }
  return unarchive(*value, registry);
}

// ---------------------------------------------------------------------------
// Registry

KeyedArchiveRegistry& KeyedArchiveRegistry::shared() {
  static KeyedArchiveRegistry& registry = *new KeyedArchiveRegistry;  // never destroyed: used by any thread
  return registry;
}

void KeyedArchiveRegistry::registerClass(std::string className, Decoder decoder) {
  std::lock_guard lock(mutex_);
  decoders_.insert_or_assign(std::move(className), std::move(decoder));
}

void KeyedArchiveRegistry::unregisterClass(std::string_view className) {
  std::lock_guard lock(mutex_);
  if (auto it = decoders_.find(className); it != decoders_.end()) decoders_.erase(it);
}

bool KeyedArchiveRegistry::isRegistered(std::string_view className) const {
  std::lock_guard lock(mutex_);
  return decoders_.find(className) != decoders_.end();
}

KeyedArchiveRegistry::Decoder KeyedArchiveRegistry::decoderFor(std::string_view className) const {
  std::lock_guard lock(mutex_);
  auto it = decoders_.find(className);
  return it == decoders_.end() ? Decoder() : it->second;
}

}  // namespace platform
