#pragma once
// CVNTransition: how one item (A) hands over to the next (B) — how long the
// hand-over lasts, when A ends and B starts inside it — and the common model
// of the layer, movie and shader transitions. Read from property-list
// dictionaries (the transitions registry, a clip's start transition) and from
// "transition" XML elements, written back in both forms, copied through its
// dictionary form.
//
// Shared (std::shared_ptr) and safe from any thread: the fields sit behind one
// lock; observers of a key (platform::ObservableObject) run on the changing
// thread after the lock is released. Values handed to observers and to
// valueForKey: strings (none for nil), reals for times, booleans, data for
// "thumbnail" (its encoded form).

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <pugixml.hpp>

#include "foundation/imaging/CGImageUtil.h"
#include "platform/Observable.h"
#include "platform/Value.h"

namespace platform {
class UserDefaults;
}

namespace engine {

enum class TransitionType : std::uint64_t { Layer = 0, AlphaMovie = 1, MaskingMovie = 2, Shader = 3, Unknown = 4 };

inline constexpr const char* kDefaultTransitionDurationKey = "defaultTransitionDuration";
inline constexpr double kDefaultTransitionDuration = 0.5;

class CVNTransition : public platform::ObservableObject {
 public:
  // Type 4 (unknown), no ID or name, A ends at 1.0 s, B starts at 0.0 s, 1.0 s long, shown, online.
  CVNTransition();
  CVNTransition(std::optional<std::string> uniqueID, std::optional<std::string> displayName, TransitionType type,
                double duration, double itemAEndOffset, double itemBStartOffset);
  virtual ~CVNTransition();

  // The class initialiser's part: registers "defaultTransitionDuration" 0.5 s.
  static void registerDefaults(platform::UserDefaults& defaults);

  // Reads the dictionary format (required keys, offsets in seconds or frames,
  // "CutFrameNumber"). None with `error` set to the missing or invalid keys.
  static std::shared_ptr<CVNTransition> initWithDictionary(const platform::Dictionary& dictionary, std::string* error);
  virtual platform::Dictionary dictionaryRepresentation() const;
  // Reads the attributes of a "transition" element; A's end defaults to the duration.
  static std::shared_ptr<CVNTransition> initWithXMLElement(const pugi::xml_node& element);
  // Appends a "transition" element to `parent` and answers it.
  pugi::xml_node XMLElement(pugi::xml_node parent) const;
  // A new object of the same class read back from dictionaryRepresentation();
  // none when that cannot be read.
  virtual std::shared_ptr<CVNTransition> copy() const;

  // "layer", "alphaMovie", "maskingMovie", "shader"; "unknown" (and a system
  // log line) above 3.
  static std::string stringFromTransitionType(std::uint64_t type);
  static TransitionType transitionTypeFromString(std::string_view string);
  // The undo action name of a property key; none for other keys.
  static std::optional<std::string> presentablePropertyNameForKey(std::string_view key);
  static const std::vector<std::string>& keysForValuesToObserveForUndo();
  // Whether a change of one presentable property stands for a change of the
  // other (so one undo action name covers both): never for transitions.
  virtual bool isPresentablePropertyWithName(std::string_view name,
                                             std::string_view causingChangeForPresentablePropertyWithName) const;

  bool isDurationEditable() const;
  static foundation::ImageRef transitionIcon();
  std::string queuePlayerTypeString() const { return "Transition"; }

  // Scales both offsets by new / old duration when asked (an old duration of 0
  // keeps them), then sets the duration.
  void setDuration(double duration, bool updateOffsets);

  // Key-value access by property name (the undo restore sets values this way).
  virtual platform::Value valueForKey(std::string_view key) const;
  virtual void setValueForKey(std::string_view key, const platform::Value& value);

  // Thumbnails: the encoded data is what is stored; the image is made from it,
  // or loaded from the bundle resource "TR_<unique ID>" when there is none.
  void setThumbnailFromBase64String(std::string_view base64);
  void setThumbnailAsData(std::optional<platform::Data> data);
  std::optional<platform::Data> thumbnailAsData() const;
  foundation::ImageRef thumbnail() const;
  // Encodes the image as JPEG (quality 0.5, transparent parts black) and stores that.
  void setCGImageRef(const foundation::ImageRef& image);

  TransitionType type() const;
  void setType(TransitionType type);
  std::optional<std::string> uniqueID() const;
  void setUniqueID(std::optional<std::string> uniqueID);
  std::optional<std::string> name() const;
  void setName(std::optional<std::string> name);
  double itemAEndOffset() const;
  void setItemAEndOffset(double seconds);
  double itemBStartOffset() const;
  void setItemBStartOffset(double seconds);
  double duration() const;
  void setDuration(double seconds);
  bool isUserTransition() const;
  void setIsUserTransition(bool isUserTransition);
  std::optional<std::string> warning() const;
  void setWarning(std::optional<std::string> warning);
  bool show() const;
  void setShow(bool show);
  bool online() const;
  void setOnline(bool online);

 protected:
  // Keys found missing or invalid, in the order they were checked, each once.
  class MissingKeys {
   public:
    void add(std::string key);
    bool empty() const { return keys_.empty(); }
    std::string message() const;

   private:
    std::vector<std::string> keys_;
  };

  // Reads this class's keys of the dictionary format; subclasses read the
  // base keys first, then their own.
  virtual void readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing);

  template <typename T>
  static std::shared_ptr<T> makeFromDictionary(const platform::Dictionary& dictionary, std::string* error) {
    auto transition = std::make_shared<T>();
    MissingKeys missing;
    static_cast<CVNTransition&>(*transition).readDictionary(dictionary, missing);
    if (missing.empty()) return transition;
    if (error) *error = missing.message();
    return nullptr;
  }

  struct Change {
    platform::Value old, now;
  };
  // Stores `value` under the lock; the old and new values (as `convert` gives
  // them) when it changed, for the caller to tell observers after unlocking.
  template <typename Field, typename Convert>
  std::optional<Change> exchangeField(Field& field, Field value, Convert convert) {
    std::lock_guard lock(mutex_);
    if (field == value) return std::nullopt;
    Change change{convert(field), {}};
    field = std::move(value);
    change.now = convert(field);
    return change;
  }
  template <typename Field>
  void setField(std::string_view key, Field& field, Field value) {
    auto change = exchangeField(field, std::move(value), [](const Field& v) { return toValue(v); });
    if (change) didChangeValueForKey(key, change->old, change->now);
  }
  template <typename Field>
  Field getField(const Field& field) const {
    std::lock_guard lock(mutex_);
    return field;
  }

  static platform::Value toValue(const std::optional<std::string>& v) { return v ? platform::Value(*v) : platform::Value(); }
  static platform::Value toValue(const std::optional<platform::Data>& v) {
    return v ? platform::Value(*v) : platform::Value();
  }
  static platform::Value toValue(double v) { return platform::Value(v); }
  static platform::Value toValue(bool v) { return platform::Value(v); }
  static platform::Value toValue(int v) { return platform::Value(v); }
  template <typename Enum>
    requires std::is_enum_v<Enum>
  static platform::Value toValue(Enum v) {
    return platform::Value(static_cast<std::int64_t>(v));
  }

  mutable std::mutex mutex_;

 private:
  TransitionType type_ = TransitionType::Unknown;  // guarded by mutex_, as every field below
  std::optional<std::string> uniqueID_;
  std::optional<std::string> name_;
  double itemAEndOffset_ = 1.0;
  double itemBStartOffset_ = 0.0;
  double duration_ = 1.0;
  bool isUserTransition_ = false;
  mutable foundation::ImageRef thumbnail_;  // made from the data, or loaded on first use
  std::optional<platform::Data> thumbnailAsData_;
  std::optional<std::string> warning_;
  bool show_ = true;
  bool online_ = true;
};

}  // namespace engine
