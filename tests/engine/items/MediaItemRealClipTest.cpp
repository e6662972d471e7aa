// A clip item over the real session, reader and decoder, on a clip made with
// ffmpeg at test time: pulled like the output would, once a picture is due.
#include <gtest/gtest.h>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace engine::items {
namespace {

namespace pm = platform::media;

TEST(MediaItemRealClipTest, PlaysEveryPictureOnceInOrderToTheEnd) {
  media::CVNFFmpegMovieAssetReader::registerMovieReader();
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults(folder.path() / "defaults.plist");
  testing_support::CapturedTechnicalLog log(defaults);
  const auto clip = folder.path() / "testsrc2.mov";
  ASSERT_TRUE(testing_support::makeFileOnce(
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25 -t 3 "
      "-c:v mpeg2video -q:v 2",
      clip));

  item_fakes::RecordingItemDelegate delegate;
  const auto mode = item_fakes::displayMode(640, 360);
  auto item = CVNMediaQueuePlayerItem::create();
  item->setDelegate(&delegate);
  item->setOutputDisplayMode(mode);
  item->setSharedPixelBufferPool(item_fakes::outputPool(pm::kPixelFormat422YpCbCr8, 640, 360));
  delegate.runOnQueue([&] {
    item->applySettingsFromDictionary({{"itemURL", platform::Value(clip.string())},
                                       {"itemTimeScale", platform::Value(25000)},
                                       {"itemFrameDuration", platform::Value(1000)},
                                       {"itemOutputBufferFormat", platform::Value(std::int64_t{pm::kPixelFormat422YpCbCr8})}});
    item->setAllowedReadAheadDurationInSeconds(8);
  });
  const auto onQueue = [&](const std::function<bool()>& question) {
    bool answer = false;
    delegate.runOnQueue([&] { answer = question(); });
    return answer;
  };
  // The player renews the read-ahead every frame; the session takes it once it knows the clip.
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] {
        return onQueue([&] {
          item->setAllowedReadAheadDurationInSeconds(8);
          return item->isReadyForPlayback();
        });
      },
      "the clip to be ready"));
  EXPECT_EQ(item->type(), kClipTypeMovie);
  EXPECT_EQ(item->playbackDuration(), 3.0);
  const auto session = std::dynamic_pointer_cast<media::CVNDecompressionSession>(item->decompressionSession());
  ASSERT_NE(session, nullptr);

  std::vector<std::int64_t> frames;
  for (int pull = 0; pull < 200 && !onQueue([&] { return item->isFinished(); }); ++pull) {
    // Pulled like an output that keeps a picture in hand: the last one only
    // once decoding has ended, so the session knows it is the last. Pulling
    // the moment each picture exists raced the end of decoding: the last
    // picture went out before the status said so, and nothing came after it.
    ASSERT_TRUE(testing_support::waitForCondition(
        [&] {
          return session->decodeAheadFrameCount() > 1 ||
                 session->status() >= media::kSessionStatusFinishedDecompressing;
        },
        "a decoded picture"))
        << frames.size() << " pictures, session status " << session->status();
    delegate.runOnQueue([&] {
      const auto picture = item->nextPixelBufferByAllowingItemToDequeue(true, kPlaybackStatusPlaying);
      ASSERT_NE(picture, nullptr);
      EXPECT_EQ(picture->width(), 640u);
      if (item->duplicatedFramesCount() == 0) {
        const auto pts = item->lastDequeuedFramePTS();
        frames.push_back(pts.value * 25 / pts.timeScale);
      }
    });
  }
  ASSERT_EQ(frames.size(), 75u);
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], frames[0] + std::int64_t(i)) << i;
  EXPECT_EQ(log.linesWith("Start duplicating frames"), 0u);
  EXPECT_EQ(item->itemState(), kItemStateFinished);
  EXPECT_EQ(delegate.calls().back(), "rendered all");
  EXPECT_TRUE(delegate.allCallsOnQueue());
}

}  // namespace
}  // namespace engine::items
