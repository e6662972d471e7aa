#pragma once
// Keyed archives: the one format in which objects are stored and put on the
// pasteboard. An object that can be archived implements Archivable; its class
// registers a decoder under its class name in a KeyedArchiveRegistry.
//
// Format (a property-list dictionary, stored as XML property-list bytes):
//
//   {
//     "$archiver": "VZKeyedArchive",      // anything else is refused
//     "$version":  1,                     // integer; other versions are refused
//     "$top":      <object>
//   }
//
// where <object> is a dictionary
//
//   { "$class": "<class name>", "<key>": <entry>, ... }
//
// and each <entry> is what the object's encode() wrote under that key:
// - a property-list value (encodeValue), stored as it is;
// - a nested object (encodeObject), stored as an <object> dictionary;
// - an array of objects (encodeObjects), stored as an array of <object>s.
// Keys starting with "$" belong to the format and cannot be encoded. A none
// value or a null object is not stored at all (the key is absent). Objects are
// stored by value: an object reachable twice is written twice, and a cycle
// is refused once nesting passes kKeyedArchiveMaxDepth objects.
//
// Threads: encoders and decoders live for one archive()/unarchive() call on
// the caller's thread. A registry may be used from any thread; decoders are
// called without its lock held, so a decoder may register classes.
//
// Errors: KeyedArchiveErrorDomain, with the location inside the archive in
// the description and in userInfo["keyPath"] (e.g. "$top.clips[2].source").

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {

inline constexpr const char* kKeyedArchiveErrorDomain = "KeyedArchiveErrorDomain";
enum class KeyedArchiveErrorCode {
  Malformed = 1,         // not an archive of this format, or an entry of the wrong shape
  UnknownClass = 2,      // no decoder registered for a "$class"
  WrongClass = 3,        // an object decoded fine but is not of the requested type
  UnsupportedValue = 4,  // encoding: reserved key, unwritable value, nesting too deep
};

inline constexpr const char* kKeyedArchiverName = "VZKeyedArchive";
inline constexpr std::int64_t kKeyedArchiveVersion = 1;
// Nested objects deeper than this are refused both ways.
inline constexpr int kKeyedArchiveMaxDepth = 128;
inline constexpr const char* kKeyedArchiveKeyPathKey = "keyPath";

class KeyedArchiveEncoder;
class KeyedArchiveDecoder;
namespace detail {
class KeyedArchiveXmlObject;
}

// An object that can be written into a keyed archive.
class Archivable {
 public:
  virtual ~Archivable() = default;
  // The name its decoder is registered under.
  virtual std::string className() const = 0;
  virtual void encode(KeyedArchiveEncoder& encoder) const = 0;
};

// Collects one object's keys while its encode() runs. The first problem is
// kept and reported by archive(); later calls are then ignored.
class KeyedArchiveEncoder {
 public:
  KeyedArchiveEncoder(const KeyedArchiveEncoder&) = delete;
  KeyedArchiveEncoder& operator=(const KeyedArchiveEncoder&) = delete;

  void encodeValue(std::string_view key, Value value);
  void encodeObject(std::string_view key, const Archivable& object);
  // A null pointer leaves the key out.
  void encodeObject(std::string_view key, const Archivable* object);
  template <typename T>
    requires std::is_base_of_v<Archivable, T>
  void encodeObject(std::string_view key, const std::shared_ptr<T>& object) {
    encodeObject(key, static_cast<const Archivable*>(object.get()));
  }
  // Every element must be non-null.
  void encodeObjects(std::string_view key, const std::vector<const Archivable*>& objects);
  template <typename T>
    requires std::is_base_of_v<Archivable, T>
  void encodeObjects(std::string_view key, const std::vector<std::shared_ptr<T>>& objects) {
    std::vector<const Archivable*> pointers;
    pointers.reserve(objects.size());
    for (const auto& object : objects) pointers.push_back(object.get());
    encodeObjects(key, pointers);
  }

 private:
  friend Result<Value> archive(const Archivable& root);
  friend Status archivedDataInto(const Archivable& root, std::string& bytes);
  KeyedArchiveEncoder(std::string path, int depth) : path_(std::move(path)), depth_(depth) {}

  // The archive's XML bytes written to `out` as the objects encode, without
  // the tree archive() builds; false on any failure, which the tree then
  // reports.
  static bool writeXml(const Archivable& root, std::string& out);

  // The archived dictionary of `object`, or nullopt after recording an error.
  std::optional<Value> encodeNested(const Archivable& object, const std::string& path);
  // Appends `object`'s dictionary as XML at `level`; false after recording an
  // error or when XML cannot carry one of its values.
  bool writeNested(const Archivable& object, const std::string& path, int level, std::string& out);
  bool acceptNesting(const std::string& path);
  bool acceptKey(std::string_view key);
  // The element at `index`, or null after recording that it is null.
  const Archivable* acceptElement(const std::vector<const Archivable*>& objects, std::size_t index,
                                  const std::string& path);
  void fail(const std::string& path, std::string_view what);

  std::string path_;
  int depth_;
  Dictionary fields_;                          // archive()
  detail::KeyedArchiveXmlObject* xml_ = nullptr;  // writeXml(); owned by the caller of encode()
  std::shared_ptr<std::optional<Error>> error_;  // shared with nested encoders: the first error wins
};

class KeyedArchiveRegistry;

// Read access to one archived object's keys while its class's decoder runs.
class KeyedArchiveDecoder {
 public:
  KeyedArchiveDecoder(const KeyedArchiveDecoder&) = delete;
  KeyedArchiveDecoder& operator=(const KeyedArchiveDecoder&) = delete;

  const std::string& className() const { return className_; }
  bool contains(std::string_view key) const;
  // The stored value, or none when the key is absent.
  const Value& value(std::string_view key) const;
  // The stored value when present and of `type`, else a Malformed error at key.
  Result<Value> requireValue(std::string_view key, Value::Type type) const;

  // Decodes a nested object through the registry. A missing key is an error;
  // check contains() first for optional objects.
  Result<std::shared_ptr<Archivable>> decodeObject(std::string_view key) const;
  Result<std::vector<std::shared_ptr<Archivable>>> decodeObjects(std::string_view key) const;

  template <typename T>
  Result<std::shared_ptr<T>> decodeObjectAs(std::string_view key) const {
    Result<std::shared_ptr<Archivable>> object = decodeObject(key);
    if (!object.ok()) return object.error();
    return cast<T>(std::move(*object), key);
  }
  template <typename T>
  Result<std::vector<std::shared_ptr<T>>> decodeObjectsAs(std::string_view key) const {
    Result<std::vector<std::shared_ptr<Archivable>>> objects = decodeObjects(key);
    if (!objects.ok()) return objects.error();
    std::vector<std::shared_ptr<T>> typed;
    typed.reserve(objects->size());
    for (std::size_t i = 0; i < objects->size(); ++i) {
      Result<std::shared_ptr<T>> element = cast<T>(std::move((*objects)[i]), key, i);
      if (!element.ok()) return element.error();
      typed.push_back(std::move(*element));
    }
    return typed;
  }

  // An error located at `key` of this object, for decoders that refuse what
  // they find.
  Error error(std::string_view key, std::string_view what,
              KeyedArchiveErrorCode code = KeyedArchiveErrorCode::Malformed) const;

 private:
  friend Result<std::shared_ptr<Archivable>> decodeArchivedObject(const Value&, const KeyedArchiveRegistry&,
                                                                  std::string, int);
  KeyedArchiveDecoder(const Dictionary& fields, std::string className, const KeyedArchiveRegistry& registry,
                      std::string path, int depth)
      : fields_(fields), className_(std::move(className)), registry_(registry), path_(std::move(path)), depth_(depth) {}

  std::string childPath(std::string_view key) const;
  static Error wrongClass(const std::string& path, const Archivable* object);

  template <typename T>
  Result<std::shared_ptr<T>> cast(std::shared_ptr<Archivable> object, std::string_view key,
                                  std::optional<std::size_t> index = std::nullopt) const {
    if (auto typed = std::dynamic_pointer_cast<T>(object)) return typed;
    std::string path = childPath(key);
    if (index) path += "[" + std::to_string(*index) + "]";
    return wrongClass(path, object.get());
  }

  const Dictionary& fields_;
  std::string className_;
  const KeyedArchiveRegistry& registry_;
  std::string path_;
  int depth_;
};

// Class name -> decoder. One process-wide instance (shared()) that classes
// register into at start-up; tests construct their own. Thread-safe.
class KeyedArchiveRegistry {
 public:
  using Decoder = std::function<Result<std::shared_ptr<Archivable>>(const KeyedArchiveDecoder&)>;

  KeyedArchiveRegistry() = default;
  KeyedArchiveRegistry(const KeyedArchiveRegistry&) = delete;
  KeyedArchiveRegistry& operator=(const KeyedArchiveRegistry&) = delete;

  static KeyedArchiveRegistry& shared();

  // Replaces any decoder registered under the same name.
  void registerClass(std::string className, Decoder decoder);
  void unregisterClass(std::string_view className);
  bool isRegistered(std::string_view className) const;
  // A copy, so the caller runs it without the registry's lock; empty when unknown.
  Decoder decoderFor(std::string_view className) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Decoder, std::less<>> decoders_;  // guarded by mutex_
};

// The archive as a property-list value, and as XML property-list bytes.
Result<Value> archive(const Archivable& root);
Result<std::string> archivedData(const Archivable& root);
// archivedData() into `bytes`, whose storage is kept: for callers that
// archive often on one thread.
Status archivedDataInto(const Archivable& root, std::string& bytes);

// Rebuilds the top object. Bytes may be any property-list form the reader
// accepts.
Result<std::shared_ptr<Archivable>> unarchive(const Value& archive,
                                              const KeyedArchiveRegistry& registry = KeyedArchiveRegistry::shared());
Result<std::shared_ptr<Archivable>> unarchive(std::string_view bytes,
                                              const KeyedArchiveRegistry& registry = KeyedArchiveRegistry::shared());
inline Result<std::shared_ptr<Archivable>> unarchive(const std::string& bytes,
                                                     const KeyedArchiveRegistry& registry = KeyedArchiveRegistry::shared()) {
  return unarchive(std::string_view(bytes), registry);
}

// Decodes one <object> dictionary; `path` names it in errors. Used by
// unarchive() and by decoders of nested objects.
Result<std::shared_ptr<Archivable>> decodeArchivedObject(const Value& object, const KeyedArchiveRegistry& registry,
                                                         std::string path, int depth);

// unarchive() that also checks the top object's type: WrongClass otherwise.
template <typename T, typename Input>
Result<std::shared_ptr<T>> unarchiveAs(const Input& input,
                                       const KeyedArchiveRegistry& registry = KeyedArchiveRegistry::shared()) {
  Result<std::shared_ptr<Archivable>> object = unarchive(input, registry);
  if (!object.ok()) return object.error();
  if (auto typed = std::dynamic_pointer_cast<T>(*object)) return typed;
  return Error(kKeyedArchiveErrorDomain, KeyedArchiveErrorCode::WrongClass,
               "Archived object of class \"" + (*object)->className() + "\" is not of the requested type (at $top)",
               Dictionary{{kKeyedArchiveKeyPathKey, Value("$top")}});
}

}  // namespace platform
