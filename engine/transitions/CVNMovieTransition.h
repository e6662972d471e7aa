#pragma once
// CVNMovieTransition: a transition that plays a movie file over the cut,
// either a movie with alpha or a masking movie. Its file can go missing:
// checkForMissingClip marks it offline with a warning. Thread safety as
// CVNTransition; observers of "URL" are also told of "movieFilePath".

#include <filesystem>
#include <memory>
#include <optional>

#include "engine/transitions/CVNTransition.h"
#include "media/readers/MediaURL.h"

namespace engine {

class CVNMovieTransition : public CVNTransition {
 public:
  CVNMovieTransition();

  // The base keys; the type must be "alphaMovie" or "maskingMovie";
  // "TransitionFilePath" (wins) or "TransitionFileURL" and
  // "ShouldPremultiplyByAlpha" are required.
  static std::shared_ptr<CVNMovieTransition> initWithDictionary(const platform::Dictionary& dictionary,
                                                                std::string* error);
  platform::Dictionary dictionaryRepresentation() const override;
  std::shared_ptr<CVNTransition> copy() const override;

  // Without a URL nothing changes; otherwise online and the warning follow
  // whether the file can be read.
  void checkForMissingClip();

  platform::Value valueForKey(std::string_view key) const override;
  void setValueForKey(std::string_view key, const platform::Value& value) override;

  bool isMaskingMovie() const;
  void setIsMaskingMovie(bool isMaskingMovie);
  bool shouldPremultiplyByAlpha() const;
  void setShouldPremultiplyByAlpha(bool shouldPremultiplyByAlpha);
  std::optional<media::MediaURL> URL() const;
  void setURL(std::optional<media::MediaURL> url);
  // The URL's path; none without a URL.
  std::optional<std::string> movieFilePath() const;

 protected:
  void readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing) override;

 private:
  bool isMaskingMovie_ = false;            // guarded by mutex_, as the fields below
  bool shouldPremultiplyByAlpha_ = false;
  std::optional<media::MediaURL> url_;
};

}  // namespace engine
