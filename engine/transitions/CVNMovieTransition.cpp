#include "engine/transitions/CVNMovieTransition.h"

#include <unistd.h>

#include <system_error>

namespace engine {

namespace {

platform::Value pathValue(const std::optional<media::MediaURL>& url) {
  return url ? platform::Value(url->path().string()) : platform::Value();
}

}  // namespace

CVNMovieTransition::CVNMovieTransition() = default;

std::shared_ptr<CVNMovieTransition> CVNMovieTransition::initWithDictionary(const platform::Dictionary& dictionary,
                                                                           std::string* error) {
  return makeFromDictionary<CVNMovieTransition>(dictionary, error);
}

void CVNMovieTransition::readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing) {
  CVNTransition::readDictionary(dictionary, missing);
  const platform::Value entries(dictionary);
  const TransitionType kind = type();
  if (kind != TransitionType::AlphaMovie && kind != TransitionType::MaskingMovie) missing.add("transitionType");

  std::optional<media::MediaURL> url;
  if (const std::string* path = entries["TransitionFilePath"].string()) {
    url = media::MediaURL::fileURLWithPath(*path);
  } else if (const std::string* text = entries["TransitionFileURL"].string()) {
    url = media::MediaURL::URLWithString(*text);
  } else {
    missing.add("TransitionFileURL");
  }
  auto premultiply = entries["ShouldPremultiplyByAlpha"].boolean();
  if (!premultiply) missing.add("ShouldPremultiplyByAlpha");

  std::lock_guard lock(mutex_);
  isMaskingMovie_ = kind == TransitionType::MaskingMovie;
  url_ = std::move(url);
  shouldPremultiplyByAlpha_ = premultiply.value_or(false);
}

platform::Dictionary CVNMovieTransition::dictionaryRepresentation() const {
  platform::Dictionary dictionary = CVNTransition::dictionaryRepresentation();
  if (auto path = movieFilePath()) dictionary["TransitionFilePath"] = platform::Value(*path);
  dictionary["ShouldPremultiplyByAlpha"] = platform::Value(shouldPremultiplyByAlpha());
  return dictionary;
}

std::shared_ptr<CVNTransition> CVNMovieTransition::copy() const {
  return initWithDictionary(dictionaryRepresentation(), nullptr);
}

void CVNMovieTransition::checkForMissingClip() {
  auto path = movieFilePath();
  if (!path) return;
  if (::access(path->c_str(), R_OK) == 0) {
    setWarning(std::nullopt);
    setOnline(true);
    return;
  }
  std::error_code error;
  const bool exists = std::filesystem::exists(*path, error);
  setOnline(false);
  setWarning(exists ? "Transition file is not readable at: '" + *path + "'"
                    : "Transition file does not exist at: '" + *path + "'");
}

platform::Value CVNMovieTransition::valueForKey(std::string_view key) const {
  if (key == "shouldPremultiplyByAlpha") return toValue(shouldPremultiplyByAlpha());
  if (key == "isMaskingMovie") return toValue(isMaskingMovie());
  if (key == "movieFilePath") return pathValue(URL());
  return CVNTransition::valueForKey(key);
}

void CVNMovieTransition::setValueForKey(std::string_view key, const platform::Value& value) {
  if (key == "shouldPremultiplyByAlpha") return setShouldPremultiplyByAlpha(value.booleanOr(false));
  if (key == "isMaskingMovie") return setIsMaskingMovie(value.booleanOr(false));
  CVNTransition::setValueForKey(key, value);
}

bool CVNMovieTransition::isMaskingMovie() const { return getField(isMaskingMovie_); }
void CVNMovieTransition::setIsMaskingMovie(bool isMaskingMovie) {
  setField("isMaskingMovie", isMaskingMovie_, isMaskingMovie);
}
bool CVNMovieTransition::shouldPremultiplyByAlpha() const { return getField(shouldPremultiplyByAlpha_); }
void CVNMovieTransition::setShouldPremultiplyByAlpha(bool shouldPremultiplyByAlpha) {
  setField("shouldPremultiplyByAlpha", shouldPremultiplyByAlpha_, shouldPremultiplyByAlpha);
}
std::optional<media::MediaURL> CVNMovieTransition::URL() const { return getField(url_); }

void CVNMovieTransition::setURL(std::optional<media::MediaURL> url) {
  auto change = exchangeField(url_, std::move(url), pathValue);
  if (!change) return;
  didChangeValueForKey("URL", change->old, change->now);
  didChangeValueForKey("movieFilePath", change->old, change->now);
}

std::optional<std::string> CVNMovieTransition::movieFilePath() const {
  auto url = URL();
  if (!url || url->path().empty()) return std::nullopt;
  return url->path().string();
}

}  // namespace engine
