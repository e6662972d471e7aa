#include "platform/KeyedArchive.h"

#include "platform/PropertyList.h"

namespace platform {
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

void KeyedArchiveEncoder::encodeValue(std::string_view key, Value value) {
  if (!acceptKey(key) || value.isNone()) return;
  fields_.insert_or_assign(std::string(key), std::move(value));
}

std::optional<Value> KeyedArchiveEncoder::encodeNested(const Archivable& object, const std::string& path) {
  if (depth_ + 1 >= kKeyedArchiveMaxDepth) {
    fail(path, "objects are nested too deeply (a cycle?)");
    return std::nullopt;
  }
  KeyedArchiveEncoder nested(path, depth_ + 1);
  nested.error_ = error_;
  nested.fields_.emplace(kClassKey, Value(object.className()));
  object.encode(nested);
  if (error_->has_value()) return std::nullopt;
  return Value(std::move(nested.fields_));
}

void KeyedArchiveEncoder::encodeObject(std::string_view key, const Archivable& object) {
  if (!acceptKey(key)) return;
  std::optional<Value> encoded = encodeNested(object, joinPath(path_, key));
  if (encoded) fields_.insert_or_assign(std::string(key), std::move(*encoded));
}

void KeyedArchiveEncoder::encodeObject(std::string_view key, const Archivable* object) {
  if (object) encodeObject(key, *object);
}

void KeyedArchiveEncoder::encodeObjects(std::string_view key, const std::vector<const Archivable*>& objects) {
  if (!acceptKey(key)) return;
  Array array;
  array.reserve(objects.size());
  const std::string base = joinPath(path_, key);
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const std::string path = base + "[" + std::to_string(i) + "]";
    if (!objects[i]) {
      fail(path, "an array of objects holds a null object");
      return;
    }
    std::optional<Value> encoded = encodeNested(*objects[i], path);
    if (!encoded) return;
    array.push_back(std::move(*encoded));
  }
  fields_.insert_or_assign(std::string(key), Value(std::move(array)));
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

Result<std::string> archivedData(const Archivable& root) {
  Result<Value> archived = archive(root);
  if (!archived.ok()) return archived.error();
  Result<std::string> bytes = writePropertyList(*archived);
  if (!bytes.ok()) {
    // The property-list error names the key path inside the archive.
    return Error(kKeyedArchiveErrorDomain, KeyedArchiveErrorCode::UnsupportedValue,
                 "Archive cannot be written: " + bytes.error().localizedDescription, bytes.error().userInfo);
  }
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
