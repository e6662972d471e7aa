// The truncated-movie check through libmediainfo: complete files pass; a cut
// file passes only when "Tessarine" wrote it (MXF and QuickTime); the reader
// turns a refusal into reason 21 when "ValidateWithMediaInfo" is on; without
// the library nothing is refused.

#include <gtest/gtest.h>

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/validation/CVNEngineValidation.h"
#include "media/validation/CVNMediaInfoValidator.h"
#include "platform/UserDefaults.h"
#include "tests/media/movie/MovieFixtures.h"
#include "tests/support/MediaFixtures.h"

namespace {

using media::CVNMediaInfoValidator;
using media::MediaURL;

// The first two thirds of the fixture.
std::filesystem::path truncated(const std::string& name) {
  const auto source = movie_fixtures::fixture(name);
  EXPECT_FALSE(source.empty()) << name;
  const auto size = std::filesystem::file_size(source);
  const auto target = movie_fixtures::fixtureFolder() / ("cut-" + name);
  EXPECT_TRUE(testing_support::runCommand("head -c " + std::to_string(size * 2 / 3) + " " +
                                          testing_support::shellQuoted(source) + " > " +
                                          testing_support::shellQuoted(target)));
  return target;
}

TEST(MediaInfoValidation, TruncatedFilesPassOnlyFromTheNamedWriter) {
  auto validator = CVNMediaInfoValidator::create();
  ASSERT_TRUE(validator) << "libmediainfo0v5 is installed by the set-up script";
  const std::pair<const char*, bool> cases[] = {
      {"tessarine.mxf", true}, {"other.mxf", false}, {"tessarine.mov", true},
      {"other.mov", false},    {"truncate.mkv", false},
  };
  for (const auto& [name, playable] : cases) {
    EXPECT_TRUE(validator->validateFileAtURL(MediaURL::fileURLWithPath(movie_fixtures::fixture(name))))
        << name << " complete";
    EXPECT_EQ(validator->validateFileAtURL(MediaURL::fileURLWithPath(truncated(name))), playable) << name << " cut";
  }
  EXPECT_TRUE(validator->validateFileAtURL(MediaURL())) << "no path";
  EXPECT_TRUE(validator->validateFileAtURL(MediaURL::fileURLWithPath("/no/such/file.mxf"))) << "cannot open";
}

TEST(MediaInfoValidation, WithoutTheLibraryNothingIsRefused) {
  media::MediaInfoLibrary absent({"/no/such/folder/libmediainfo.so.0"});
  EXPECT_FALSE(absent.isAvailable());
  EXPECT_EQ(CVNMediaInfoValidator::create(absent), nullptr);
  const auto candidates = media::MediaInfoLibrary::defaultCandidates();
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_TRUE(std::filesystem::path(candidates[0]).is_absolute()) << "beside the executable, never the working folder";
  EXPECT_EQ(candidates[1], "libmediainfo.so.0");
}

TEST(MediaInfoValidation, ReaderGivesReasonTwentyOneWhenAsked) {
  const auto cut = truncated("other.mxf");
  auto& defaults = platform::UserDefaults::standard();
  for (const bool asked : {false, true}) {
    defaults.setObject(asked, "ValidateWithMediaInfo");
    media::CVNFFmpegMovieAssetReader reader(MediaURL::fileURLWithPath(cut), "cut");
    reader.loadInfo(false, true);
    EXPECT_EQ(reader.isValid(), !asked);
    EXPECT_EQ(reader.validationError(), asked ? media::kValidationReasonTruncated : 0);
  }
  defaults.removeObjectForKey("ValidateWithMediaInfo");
  const auto fine = truncated("tessarine.mxf");
  defaults.setObject(true, "ValidateWithMediaInfo");
  media::CVNFFmpegMovieAssetReader reader(MediaURL::fileURLWithPath(fine), "fine");
  reader.loadInfo(false, true);
  defaults.removeObjectForKey("ValidateWithMediaInfo");
  EXPECT_TRUE(reader.isValid());
}

}  // namespace
