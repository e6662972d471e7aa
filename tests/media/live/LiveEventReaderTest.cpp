#include "media/live/CVNZiraAssetReader.h"

#include <gtest/gtest.h>

#include "media/sessions/CVNDecompressionSession.h"
#include "platform/DispatchQueue.h"
#include "platform/UserDefaults.h"
#include "platform/media/PixelFormat.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/live/LiveFakes.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;

TEST(LiveEventReaderTest, AnswersAsAStillAndGivesOneTransparentFrame) {
  CVNZiraAssetReader reader(std::string("live event"));
  bool loaded = false;
  reader.loadInfoWithMetadata(false, false, [&] { loaded = true; });
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(reader.isValid());
  EXPECT_EQ(reader.assetType(), kAssetTypeImage);
  EXPECT_EQ(reader.displaySize().width, 1920);
  EXPECT_EQ(reader.videoFormatDescription()->mediaSubType(), pm::fourCC("img "));
  EXPECT_TRUE(reader.setFrameDuration(pm::MediaTime::make(1001, 30000)));
  EXPECT_NEAR(reader.framerate(), 29.97, 0.01);
  const auto frame = reader.nextSampleBufferForTrackIndex(nullptr);
  ASSERT_NE(frame, nullptr);
  ASSERT_NE(frame->imageBuffer(), nullptr);
  EXPECT_EQ(frame->imageBuffer()->pixelFormatType(), pm::kPixelFormat32ARGB);
  EXPECT_EQ(frame->imageBuffer()->baseAddress()[0], 0) << "transparent";
  EXPECT_EQ(frame->duration(), pm::MediaTime::make(1001, 30000));
  EXPECT_EQ(reader.nextSampleBufferForTrackIndex(nullptr), nullptr);
  reader.updatePlaybackDuration(2.0);
  EXPECT_DOUBLE_EQ(reader.duration().seconds(), 2.0);
}

TEST(LiveEventReaderTest, ADecompressionSessionForALiveEventInitialisesValid) {
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults(folder.path() / "defaults.plist");
  testing_support::CapturedTechnicalLog log(defaults);
  auto queue = std::make_shared<platform::SerialQueue>("test.live.event");
  auto delegate = std::make_shared<testing::CountingDelegate>();
  auto session = CVNDecompressionSession::createWithZiraEvent(delegate, queue, std::string("live event"));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return delegate->count("initialized") == 1; }));
  EXPECT_TRUE(session->isValid());
  EXPECT_EQ(session->content(), kContentVideoOnly);
  session->discard();
}

}  // namespace
}  // namespace media
