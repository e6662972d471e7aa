// Scrubbing a decompression session against a scripted reader and decoder:
// where the reader seeks, which statuses a scrub accepts, the quick scrub's
// trigger and what a scrub resets.

#include <gtest/gtest.h>

#include "media/sessions/CVNDecompressionSession.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/sessions/SessionFakes.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using media::CVNDecompressionSession;
using namespace session_fakes;

class SessionScrubbingTest : public ::testing::Test {
 protected:
  std::shared_ptr<CVNDecompressionSession> open(std::int32_t assetType = media::kAssetTypeQuickTimeMovie,
                                                bool startBuffering = true) {
    FakeReader::Setup setup;
    setup.assetType = assetType;
    setup.endsAfterScript = false;
    reader_ = std::make_shared<FakeReader>(std::move(setup));
    auto session = CVNDecompressionSession::create(reader_, delegate_, delegateQueue_, fakeServices(decoderRecord_, 5));
    session->setOutputFrameDuration(pm::MediaTime::make(1, 25));
    session->setDecompressSize({64, 36});
    if (startBuffering) {
      EXPECT_TRUE(session->startBuffering());
    }
    return session;
  }
  // The scrub work has run once the reader saw `seeks` seeks.
  void waitForSeeks(std::size_t seeks) {
    ASSERT_TRUE(testing_support::waitForCondition([&] { return reader_->seeks().size() >= seeks; }, "the seek"));
  }
  void flushCallbacks() { ASSERT_TRUE(delegateQueue_->sync([] {}, std::chrono::seconds(10))); }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::shared_ptr<platform::DispatchQueue> delegateQueue_ = std::make_shared<platform::SerialQueue>("test.delegate");
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<FakeDecoder::Record> decoderRecord_ = std::make_shared<FakeDecoder::Record>();
  std::shared_ptr<FakeReader> reader_;
};

TEST_F(SessionScrubbingTest, TheTargetCountsFromTheInPointAndEveryBufferEmpties) {
  const auto session = open();
  session->setInPointInSeconds(10);
  const auto fd = pm::MediaTime::make(1, 25);
  for (std::int64_t i = 0; i < 3; ++i) session->decoderDidProduceFrame(decodedFrame(pm::MediaTime::make(i, 25), fd), nullptr);
  session->scrubToTime(0, false, true);
  waitForSeeks(1);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return session->status() == media::kSessionStatusBuffering; }));
  EXPECT_DOUBLE_EQ(reader_->seeks()[0].seconds, 10.0);
  EXPECT_TRUE(reader_->seeks()[0].precisely);
  EXPECT_EQ(decoderRecord_->flushes.load(), 1);
  EXPECT_FALSE(session->videoBufferHead());
  EXPECT_FALSE(session->isReadyForPlayback());
  EXPECT_EQ(session->allowedReadAheadDuration(), pm::MediaTime::make(8, 1));
  session->discard();
}

TEST_F(SessionScrubbingTest, OnlyStatusesThreeToNineAcceptAScrub) {
  {
    const auto session = open(media::kAssetTypeQuickTimeMovie, false);
    session->scrubToTime(1, true, false);
    EXPECT_EQ(session->status(), media::kSessionStatusInitialized);
    session->discard();
  }
  const auto session = open();
  session->discard();
  session->scrubToTime(1, true, false);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return !session->isReading(); }));
  EXPECT_EQ(session->status(), media::kSessionStatusAborted);
  EXPECT_TRUE(reader_->seeks().empty());
}

TEST_F(SessionScrubbingTest, AQuickScrubReadsOneFrameAndTellsTheDelegateAtTheFirstFrame) {
  const auto session = open();
  flushCallbacks();
  const auto readyBefore = delegate_->count("ready");
  session->scrubToTime(2, true, false);
  waitForSeeks(1);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return session->status() == media::kSessionStatusReading; }));
  EXPECT_EQ(session->allowedReadAheadDuration(), reader_->frameDuration());
  // A frame without a time still shows a picture during a quick scrub.
  session->decoderDidProduceFrame(decodedFrame(pm::MediaTime::invalid(), pm::MediaTime::make(1, 25)), nullptr);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return delegate_->count("ready") == readyBefore + 1; }));
  EXPECT_FALSE(session->isReadyForPlayback());
  EXPECT_TRUE(session->videoBufferHead());
  session->discard();
}

TEST_F(SessionScrubbingTest, ANormalScrubAfterAQuickOneRemovesItsTrigger) {
  const auto session = open();
  flushCallbacks();
  const auto readyBefore = delegate_->count("ready");
  session->scrubToTime(1, true, false);
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return reader_->seeks().size() == 1 && session->status() == media::kSessionStatusReading; }));
  session->scrubToTime(2, false, false);
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return reader_->seeks().size() == 2 && session->status() == media::kSessionStatusBuffering; }));
  session->decoderDidProduceFrame(decodedFrame(pm::MediaTime::make(50, 25), pm::MediaTime::make(1, 25)), nullptr);
  flushCallbacks();
  // One frame of the five needed: ready only through a trigger left over.
  EXPECT_EQ(delegate_->count("ready"), readyBefore);
  session->discard();
}

TEST_F(SessionScrubbingTest, TheDebugDescriptionShowsTheLoopsAfterAQuickScrub) {
  const auto session = open();
  session->scrubToTime(1, true, false);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return session->status() == media::kSessionStatusReading; }));
  session->stopBuffering();
  ASSERT_TRUE(testing_support::waitForCondition([&] { return !session->isReading(); }));
  EXPECT_EQ(session->debugDescription(),
            "\nFrames read: 0\nAllowed buffer: 0.0\nThread status - Read: 0 - Decode: 0\nDecompression status: 8");
  session->discard();
}

TEST_F(SessionScrubbingTest, AStillMovesWithoutTheReader) {
  const auto session = open(media::kAssetTypeImage);
  flushCallbacks();
  const auto readyBefore = delegate_->count("ready");
  session->scrubToTime(1.6, true, true);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return delegate_->count("ready") == readyBefore + 1; }));
  EXPECT_EQ(session->playbackPTS(), pm::MediaTime::make(40, 25));
  EXPECT_TRUE(reader_->seeks().empty());
  session->discard();
}

TEST_F(SessionScrubbingTest, AScrubStartsTheConformFromZero) {
  // 25 fps on 50: every frame is due twice, so a repeat is pending now.
  const auto session = open();
  session->setOutputFrameDuration(pm::MediaTime::make(1, 50));
  const auto fd = pm::MediaTime::make(1, 25);
  session->decoderDidProduceFrame(decodedFrame(pm::MediaTime::make(0, 25), fd), nullptr);
  ASSERT_TRUE(session->nextVideoSampleBuffer());
  session->scrubToTime(4, false, false);
  waitForSeeks(1);
  session->decoderDidProduceFrame(decodedFrame(pm::MediaTime::make(100, 25), fd), nullptr);
  const auto next = session->nextVideoSampleBuffer();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->presentationTimeStamp(), pm::MediaTime::make(100, 25));
  session->discard();
}

}  // namespace
