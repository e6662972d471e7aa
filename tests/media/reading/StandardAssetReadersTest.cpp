#include <gtest/gtest.h>

#include <filesystem>

#include "media/readers/AssetReaderRegistry.h"
#include "media/readers/StandardAssetReaders.h"
#include "media/readers/audio/CVNAudioAssetReader.h"
#include "media/readers/image/CVNImageAssetReader.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "tests/support/MediaFixtures.h"
#include "tests/media/FilesOfEachKind.h"

namespace media {
namespace {

class StandardAssetReadersTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto kind : {AssetReaderKind::Movie, AssetReaderKind::Image, AssetReaderKind::Audio}) {
      AssetReaderRegistry::shared().unregisterReader(kind);
    }
  }
};

// What a host registers at start: each kind of file gets its own reader from
// the factory, and registering twice changes nothing.
TEST_F(StandardAssetReadersTest, TheFactoryGivesEachKindOfFileItsReader) {
  const testing_support::FilesOfEachKind files;
  ASSERT_TRUE(files.made());

  const auto readerFor = [](const std::filesystem::path& path) {
    return CVNAssetReader::assetReaderWithMediaURL(MediaURL::fileURLWithPath(path), "host");
  };
  EXPECT_EQ(readerFor(files.movie), nullptr) << "nothing is registered before the host does it";

  registerStandardAssetReaders();
  registerStandardAssetReaders();
  EXPECT_EQ(AssetReaderRegistry::shared().registrations().size(), 3u);
  EXPECT_TRUE(std::dynamic_pointer_cast<CVNFFmpegMovieAssetReader>(readerFor(files.movie)));
  EXPECT_TRUE(std::dynamic_pointer_cast<CVNImageAssetReader>(readerFor(files.still)));
  EXPECT_TRUE(std::dynamic_pointer_cast<CVNAudioAssetReader>(readerFor(files.sound)));
  EXPECT_EQ(readerFor(files.text), nullptr);
}

}  // namespace
}  // namespace media
