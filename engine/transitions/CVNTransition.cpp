#include "engine/transitions/CVNTransition.h"

#include <cstdio>
#include <map>

#include "engine/transitions/BundleImage.h"
#include "foundation/XMLValidation.h"
#include "platform/Base64.h"
#include "platform/Diagnostics.h"
#include "platform/UserDefaults.h"
#include "platform/media/ImageSource.h"

namespace engine {

namespace {

constexpr const char* kTypeStrings[] = {"layer", "alphaMovie", "maskingMovie", "shader"};

std::optional<std::string> stringFor(const platform::Value& value) {
  if (const std::string* text = value.string()) return *text;
  return std::nullopt;
}

// Numbers as the property-list readers give them (integers, reals, booleans).
std::optional<double> numberFor(const platform::Value& value) { return value.real(); }

// One offset: seconds, else frames at "movieFrameRate" above 1 fps, else not
// needed when the cut frame is given; otherwise reported under the key the
// dictionary got wrong.
void readOffset(const platform::Dictionary& dictionary, const char* secondsKey, const char* framesKey,
                double& offset, std::vector<std::string>& missingKeys) {
  auto find = [&](const char* key) -> const platform::Value* {
    auto it = dictionary.find(key);
    return it == dictionary.end() ? nullptr : &it->second;
  };
  if (const platform::Value* seconds = find(secondsKey); seconds && numberFor(*seconds)) {
    offset = *numberFor(*seconds);
    return;
  }
  const platform::Value* rateValue = find("movieFrameRate");
  const double frameRate = rateValue ? numberFor(*rateValue).value_or(0.0) : 0.0;
  const platform::Value* frames = find(framesKey);
  if (frameRate > 1.0 && frames && numberFor(*frames)) {
    offset = *numberFor(*frames) / frameRate;
    return;
  }
  if (find("CutFrameNumber")) return;
  missingKeys.push_back(frameRate > 1.0 && frames ? framesKey : secondsKey);
}

std::string formatSeconds(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", seconds);
  return text;
}

}  // namespace

CVNTransition::CVNTransition() = default;

CVNTransition::CVNTransition(std::optional<std::string> uniqueID, std::optional<std::string> displayName,
                             TransitionType type, double duration, double itemAEndOffset, double itemBStartOffset)
    : type_(type),
      uniqueID_(std::move(uniqueID)),
      name_(std::move(displayName)),
      itemAEndOffset_(itemAEndOffset),
      itemBStartOffset_(itemBStartOffset),
      duration_(duration) {}

CVNTransition::~CVNTransition() = default;

void CVNTransition::registerDefaults(platform::UserDefaults& defaults) {
  defaults.registerDefaults({{kDefaultTransitionDurationKey, platform::Value(kDefaultTransitionDuration)}});
}

void CVNTransition::MissingKeys::add(std::string key) {
  for (const auto& known : keys_) {
    if (known == key) return;
  }
  keys_.push_back(std::move(key));
}

std::string CVNTransition::MissingKeys::message() const {
  if (keys_.size() == 1) return "Value for key: " + keys_.front() + " is missing or invalid";
  std::string joined;
  for (const auto& key : keys_) joined += (joined.empty() ? "" : ",") + key;
  return "Some required values are missing for keys: " + joined;
}

std::shared_ptr<CVNTransition> CVNTransition::initWithDictionary(const platform::Dictionary& dictionary,
                                                                 std::string* error) {
  return makeFromDictionary<CVNTransition>(dictionary, error);
}

void CVNTransition::readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing) {
  const platform::Value entries(dictionary);
  auto uniqueID = stringFor(entries["uniqueID"]);
  if (!uniqueID) missing.add("uniqueID");
  auto displayName = stringFor(entries["displayName"]);
  if (!displayName) missing.add("displayName");
  auto typeString = stringFor(entries["transitionType"]);
  const TransitionType type = typeString ? transitionTypeFromString(*typeString) : TransitionType::Unknown;
  if (type == TransitionType::Unknown) missing.add("transitionType");
  auto duration = numberFor(entries["duration"]);
  if (!duration) missing.add("duration");

  std::vector<std::string> missingOffsets;
  double itemAEndOffset = 1.0, itemBStartOffset = 0.0;
  readOffset(dictionary, "itemAEndOffset", "itemAEndFrameOffset", itemAEndOffset, missingOffsets);
  readOffset(dictionary, "itemBStartOffset", "itemBStartFrameOffset", itemBStartOffset, missingOffsets);
  for (auto& key : missingOffsets) missing.add(std::move(key));

  std::lock_guard lock(mutex_);
  uniqueID_ = std::move(uniqueID);
  name_ = std::move(displayName);
  type_ = type;
  duration_ = duration.value_or(duration_);
  itemAEndOffset_ = itemAEndOffset;
  itemBStartOffset_ = itemBStartOffset;
  isUserTransition_ = entries["userTransition"].boolean().value_or(false);
  if (const platform::Data* thumbnail = entries["thumbnail"].data()) thumbnailAsData_ = *thumbnail;
}

platform::Dictionary CVNTransition::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  platform::Dictionary dictionary{
      {"uniqueID", platform::Value(uniqueID_.value_or(""))},
      {"displayName", platform::Value(name_.value_or(""))},
      {"transitionType", platform::Value(stringFromTransitionType(static_cast<std::uint64_t>(type_)))},
      {"duration", platform::Value(duration_)},
      {"itemAEndOffset", platform::Value(itemAEndOffset_)},
      {"itemBStartOffset", platform::Value(itemBStartOffset_)},
      {"userTransition", platform::Value(isUserTransition_)},
  };
  if (isUserTransition_ && thumbnailAsData_) dictionary["thumbnail"] = platform::Value(*thumbnailAsData_);
  return dictionary;
}

std::shared_ptr<CVNTransition> CVNTransition::initWithXMLElement(const pugi::xml_node& element) {
  auto transition = std::make_shared<CVNTransition>();
  if (auto attribute = element.attribute("uniqueID")) transition->uniqueID_ = attribute.value();
  if (auto attribute = element.attribute("displayName")) transition->name_ = attribute.value();
  if (auto attribute = element.attribute("transitionType")) {
    transition->type_ = transitionTypeFromString(attribute.value());
  }
  if (auto attribute = element.attribute("duration")) transition->duration_ = attribute.as_double();
  if (auto attribute = element.attribute("itemBStartOffset")) transition->itemBStartOffset_ = attribute.as_double();
  auto itemAEnd = element.attribute("itemAEndOffset");
  transition->itemAEndOffset_ = itemAEnd ? itemAEnd.as_double() : transition->duration_;
  return transition;
}

pugi::xml_node CVNTransition::XMLElement(pugi::xml_node parent) const {
  std::lock_guard lock(mutex_);
  pugi::xml_node element = parent.append_child("transition");
  element.append_attribute("uniqueID") = uniqueID_.value_or("").c_str();
  element.append_attribute("displayName") = foundation::validXMLString(name_.value_or("")).c_str();
  element.append_attribute("transitionType") = stringFromTransitionType(static_cast<std::uint64_t>(type_)).c_str();
  element.append_attribute("duration") = formatSeconds(duration_).c_str();
  element.append_attribute("itemAEndOffset") = formatSeconds(itemAEndOffset_).c_str();
  element.append_attribute("itemBStartOffset") = formatSeconds(itemBStartOffset_).c_str();
  element.append_attribute("userTransition") = isUserTransition_ ? "true" : "false";
  return element;
}

std::shared_ptr<CVNTransition> CVNTransition::copy() const { return initWithDictionary(dictionaryRepresentation(), nullptr); }

std::string CVNTransition::stringFromTransitionType(std::uint64_t type) {
  if (type < std::size(kTypeStrings)) return kTypeStrings[type];
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                             "Missing implementation for stringFromTransitionType: " + std::to_string(type));
  return "unknown";
}

TransitionType CVNTransition::transitionTypeFromString(std::string_view string) {
  for (std::size_t type = 0; type < std::size(kTypeStrings); ++type) {
    if (string == kTypeStrings[type]) return static_cast<TransitionType>(type);
  }
  return TransitionType::Unknown;
}

std::optional<std::string> CVNTransition::presentablePropertyNameForKey(std::string_view key) {
  static const std::map<std::string, std::string, std::less<>> kNames{
      {"name", "Transition Name"},
      {"itemAEndOffset", "Transition End of Previous Item"},
      {"itemBStartOffset", "Transition Start of Next Item"},
      {"duration", "Transition Duration"},
      {"thumbnail", "Transition Thumbnail"},
      {"shouldPremultiplyByAlpha", "Transition Should Premultiply RGB by alpha"},
      {"show", "Show/Hide Transition"},
  };
  auto it = kNames.find(key);
  if (it == kNames.end()) return std::nullopt;
  return it->second;
}

const std::vector<std::string>& CVNTransition::keysForValuesToObserveForUndo() {
  static const std::vector<std::string> kKeys{"name",     "itemAEndOffset", "itemBStartOffset",
                                              "duration", "thumbnail",      "shouldPremultiplyByAlpha"};
  return kKeys;
}

bool CVNTransition::isPresentablePropertyWithName(std::string_view, std::string_view) const { return false; }

bool CVNTransition::isDurationEditable() const {
  const TransitionType kind = type();
  return kind == TransitionType::Layer || kind == TransitionType::Shader;
}

foundation::ImageRef CVNTransition::transitionIcon() { return bundleImageNamed("Transition"); }

void CVNTransition::setDuration(double duration, bool updateOffsets) {
  const double oldDuration = this->duration();
  // From a duration of 0 there is no ratio to keep: the offsets stay.
  if (updateOffsets && oldDuration != 0.0) {
    const double scale = duration / oldDuration;
    setItemAEndOffset(itemAEndOffset() * scale);
    setItemBStartOffset(itemBStartOffset() * scale);
  }
  setDuration(duration);
}

platform::Value CVNTransition::valueForKey(std::string_view key) const {
  if (key == "uniqueID") return toValue(uniqueID());
  if (key == "name") return toValue(name());
  if (key == "itemAEndOffset") return toValue(itemAEndOffset());
  if (key == "itemBStartOffset") return toValue(itemBStartOffset());
  if (key == "duration") return toValue(duration());
  if (key == "userTransition") return toValue(isUserTransition());
  if (key == "warning") return toValue(warning());
  if (key == "show") return toValue(show());
  if (key == "online") return toValue(online());
  if (key == "thumbnail") return toValue(thumbnailAsData());
  return {};
}

void CVNTransition::setValueForKey(std::string_view key, const platform::Value& value) {
  if (key == "uniqueID") return setUniqueID(stringFor(value));
  if (key == "name") return setName(stringFor(value));
  if (key == "itemAEndOffset") return setItemAEndOffset(value.realOr(0.0));
  if (key == "itemBStartOffset") return setItemBStartOffset(value.realOr(0.0));
  if (key == "duration") return setDuration(value.realOr(0.0));
  if (key == "userTransition") return setIsUserTransition(value.booleanOr(false));
  if (key == "warning") return setWarning(stringFor(value));
  if (key == "show") return setShow(value.booleanOr(false));
  if (key == "online") return setOnline(value.booleanOr(false));
  if (key == "thumbnail") {
    const platform::Data* data = value.data();
    setThumbnailAsData(data ? std::optional<platform::Data>(*data) : std::nullopt);
  }
}

void CVNTransition::setThumbnailFromBase64String(std::string_view base64) {
  if (auto data = platform::base64Decode(base64)) setThumbnailAsData(std::move(*data));
}

void CVNTransition::setThumbnailAsData(std::optional<platform::Data> data) {
  foundation::ImageRef image;
  if (data) {
    if (auto source = platform::media::ImageSource::createWithData(*data)) {
      if (auto decoded = (*source)->createImage()) image = std::move(decoded.value());
    }
  }
  auto change = exchangeField(thumbnailAsData_, std::move(data), [](const auto& v) { return toValue(v); });
  if (!change) return;
  if (image) {
    std::lock_guard lock(mutex_);
    thumbnail_ = std::move(image);
  }
  didChangeValueForKey("thumbnail", change->old, change->now);
}

std::optional<platform::Data> CVNTransition::thumbnailAsData() const { return getField(thumbnailAsData_); }

foundation::ImageRef CVNTransition::thumbnail() const {
  std::lock_guard lock(mutex_);
  if (!thumbnail_ && uniqueID_) thumbnail_ = bundleImageNamed("TR_" + *uniqueID_);
  return thumbnail_;
}

void CVNTransition::setCGImageRef(const foundation::ImageRef& image) {
  if (!image) return;
  const foundation::Size size{static_cast<double>(image->width()), static_cast<double>(image->height())};
  auto jpeg = foundation::CGImageUtil::bitmapImageDataForImage(image, size, 0.5, nullptr);
  if (!jpeg.empty()) setThumbnailAsData(std::move(jpeg));
}

TransitionType CVNTransition::type() const { return getField(type_); }
void CVNTransition::setType(TransitionType type) { setField("type", type_, type); }
std::optional<std::string> CVNTransition::uniqueID() const { return getField(uniqueID_); }
void CVNTransition::setUniqueID(std::optional<std::string> uniqueID) { setField("uniqueID", uniqueID_, std::move(uniqueID)); }
std::optional<std::string> CVNTransition::name() const { return getField(name_); }
void CVNTransition::setName(std::optional<std::string> name) { setField("name", name_, std::move(name)); }
double CVNTransition::itemAEndOffset() const { return getField(itemAEndOffset_); }
void CVNTransition::setItemAEndOffset(double seconds) { setField("itemAEndOffset", itemAEndOffset_, seconds); }
double CVNTransition::itemBStartOffset() const { return getField(itemBStartOffset_); }
void CVNTransition::setItemBStartOffset(double seconds) { setField("itemBStartOffset", itemBStartOffset_, seconds); }
double CVNTransition::duration() const { return getField(duration_); }
void CVNTransition::setDuration(double seconds) { setField("duration", duration_, seconds); }
bool CVNTransition::isUserTransition() const { return getField(isUserTransition_); }
void CVNTransition::setIsUserTransition(bool isUserTransition) {
  setField("userTransition", isUserTransition_, isUserTransition);
}
std::optional<std::string> CVNTransition::warning() const { return getField(warning_); }
void CVNTransition::setWarning(std::optional<std::string> warning) { setField("warning", warning_, std::move(warning)); }
bool CVNTransition::show() const { return getField(show_); }
void CVNTransition::setShow(bool show) { setField("show", show_, show); }
bool CVNTransition::online() const { return getField(online_); }
void CVNTransition::setOnline(bool online) { setField("online", online_, online); }

}  // namespace engine
