// Decoded frames of a decompression session: put in presentation order,
// gaps filled, the source rate conformed to the output's, the decoding loop's
// limits and end, and the end of playback. Frames are handed to the session
// as its decoder would, against a scripted reader.

#include <gtest/gtest.h>

#include <cmath>

#include "media/sessions/CVNDecompressionSession.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/sessions/SessionFakes.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using media::CVNDecompressionSession;
using namespace session_fakes;

class SessionFrameOutputTest : public ::testing::Test {
 protected:
  // A buffering session whose reader stays silent, so only the frames the
  // test hands over are there; output at `ofd`.
  std::shared_ptr<CVNDecompressionSession> open(double fps, pm::MediaTime ofd, FakeReader::Setup setup = {}) {
    setup.fps = fps;
    const bool silent = setup.samples.empty();
    if (silent) setup.endsAfterScript = false;
    reader_ = std::make_shared<FakeReader>(std::move(setup));
    auto session = CVNDecompressionSession::create(reader_, delegate_, delegateQueue_, fakeServices(decoderRecord_, 5));
    session->setOutputFrameDuration(ofd);
    session->setDecompressSize({64, 36});
    EXPECT_TRUE(session->startBuffering());
    // Reading has begun, so the ordering starts from the reader's sync time.
    if (silent) {
      EXPECT_TRUE(testing_support::waitForCondition([&] { return reader_->emptyAnswers() > 0; }));
    }
    return session;
  }
  static pm::SampleBufferRef frame(std::int64_t index, pm::MediaTime fd, bool withDecodeTime = false) {
    const auto pts = pm::MediaTime::make(index * fd.value, fd.timeScale);
    return decodedFrame(pts, fd, withDecodeTime ? pts : pm::MediaTime::invalid());
  }
  static std::int64_t indexOf(const pm::SampleBufferRef& sample, pm::MediaTime fd) {
    return sample ? sample->outputPresentationTimeStamp().value / fd.value : -1;
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::shared_ptr<platform::DispatchQueue> delegateQueue_ = std::make_shared<platform::SerialQueue>("test.delegate");
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<FakeDecoder::Record> decoderRecord_ = std::make_shared<FakeDecoder::Record>();
  std::shared_ptr<FakeReader> reader_;
};

TEST_F(SessionFrameOutputTest, TheSourceRateIsConformedToTheOutputByDropsAndRepeats) {
  struct Row {
    const char* name;
    double fps;
    pm::MediaTime fd;
    pm::MediaTime ofd;
    int pulls;
    int repeats;
    std::int64_t lastIndex;  // source frame shown at the last pull
  };
  const Row rows[] = {
      {"25 on 25", 25, pm::MediaTime::make(1000, 25000), pm::MediaTime::make(1, 25), 1000, 0, 999},
      {"24 on 25: one repeat per 24", 24, pm::MediaTime::make(1000, 24000), pm::MediaTime::make(1, 25), 1000, 40, 959},
      {"60 on 25: one or two dropped", 60, pm::MediaTime::make(1000, 60000), pm::MediaTime::make(1, 25), 1000, 0, 2397},
      {"23.98 on 29.97: one in five repeated", 23.976, pm::MediaTime::make(1001, 24000),
       pm::MediaTime::make(1001, 30000), 1000, 200, 799},
      {"50 on 25: every second dropped", 50, pm::MediaTime::make(1000, 50000), pm::MediaTime::make(1, 25), 1000, 0, 1998},
      {"25 on 50: each twice", 25, pm::MediaTime::make(1000, 25000), pm::MediaTime::make(1, 50), 1000, 500, 499},
      {"29.97 on 30: one repeat in 1000", 29.97, pm::MediaTime::make(1001, 30000), pm::MediaTime::make(1, 30), 1001, 1,
       999},
  };
  constexpr const char* kRateLine = "Warning: Frame rate is different than output";
  for (const auto& row : rows) {
    const auto linesBefore = log_.linesWith(kRateLine);
    const auto session = open(row.fps, row.ofd);
    std::int64_t fed = 0;
    std::vector<std::int64_t> shown;
    double worstDrift = 0;
    for (int k = 0; k < row.pulls; ++k) {
      while (session->decodeAheadFrameCount() < 4) session->decoderDidProduceFrame(frame(fed++, row.fd), nullptr);
      const auto sample = session->nextVideoSampleBuffer();
      ASSERT_TRUE(sample) << row.name << " pull " << k;
      shown.push_back(indexOf(sample, row.fd));
      worstDrift = std::max(worstDrift, std::fabs(sample->outputPresentationTimeStamp().seconds() - k * row.ofd.seconds()));
    }
    int repeats = 0;
    for (std::size_t k = 1; k < shown.size(); ++k) {
      ASSERT_GE(shown[k], shown[k - 1]) << row.name << " pull " << k;
      if (shown[k] == shown[k - 1]) ++repeats;
    }
    EXPECT_EQ(repeats, row.repeats) << row.name;
    EXPECT_NEAR(static_cast<double>(shown.back()), static_cast<double>(row.lastIndex), 1.0) << row.name;
    EXPECT_LE(worstDrift, row.ofd.seconds() + 1e-9) << row.name;
    const bool sameRate = row.repeats == 0 && row.lastIndex == row.pulls - 1;
    EXPECT_EQ(log_.linesWith(kRateLine) - linesBefore, sameRate ? 0u : 1u) << row.name;
    session->discard();
  }
}

TEST_F(SessionFrameOutputTest, FramesDecodedOutOfOrderLeaveInPresentationOrder) {
  // Decode order I P B B P B B with decode times one frame apart.
  const auto fd = pm::MediaTime::make(1, 25);
  const auto session = open(25, fd);
  const std::int64_t decodeOrder[] = {0, 3, 1, 2, 6, 4, 5};
  std::vector<std::int64_t> shown;
  std::int64_t dts = -1;
  for (const auto index : decodeOrder) {
    const auto pts = pm::MediaTime::make(index, 25);
    session->decoderDidProduceFrame(decodedFrame(pts, fd, pm::MediaTime::make(dts++, 25)), nullptr);
    // A frame whose predecessors are still missing is not handed out.
    if (index == 3) {
      EXPECT_EQ(session->decodeAheadFrameCount(), 1);
      shown.push_back(indexOf(session->nextVideoSampleBuffer(), fd));
      EXPECT_FALSE(session->nextVideoSampleBuffer());
    }
  }
  while (const auto sample = session->nextVideoSampleBuffer()) shown.push_back(indexOf(sample, fd));
  // Frame 6 waits for the catch-up of a later frame.
  EXPECT_EQ(shown, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(log_.linesWith("Frame may be missing"), 0u);
  session->discard();
}

TEST_F(SessionFrameOutputTest, ThirtyUnorderedTimesEmptyTheList) {
  // Frame 1 never comes: 2 ... 31 are each recorded as ahead of order.
  const auto fd = pm::MediaTime::make(1, 50);
  const auto session = open(50, fd);
  session->decoderDidProduceFrame(frame(0, fd), nullptr);
  for (std::int64_t i = 2; i <= 30; ++i) session->decoderDidProduceFrame(frame(i, fd), nullptr);
  EXPECT_EQ(session->decodeAheadFrameCount(), 1);
  session->decoderDidProduceFrame(frame(31, fd), nullptr);
  EXPECT_EQ(session->decodeAheadFrameCount(), 31);
  session->discard();
}

TEST_F(SessionFrameOutputTest, AFailedDecodeIsReplacedByANeighbourOrABlankFirstFrame) {
  const auto fd = pm::MediaTime::make(1, 25);
  {
    // Nothing decoded yet: a blank picture of one frame.
    const auto session = open(25, fd);
    session->decodingFailedForPresentationTimestamp(pm::MediaTime::make(0, 25), nullptr);
    const auto blank = session->nextVideoSampleBuffer();
    ASSERT_TRUE(blank);
    ASSERT_TRUE(blank->imageBuffer());
    EXPECT_EQ(blank->duration(), fd);
    EXPECT_EQ(blank->imageBuffer()->pixelFormatType(), pm::fourCC("2vuy"));
    session->discard();
  }
  const auto session = open(25, fd);
  session->decoderDidProduceFrame(frame(0, fd), nullptr);
  session->decodingFailedForPresentationTimestamp(pm::MediaTime::make(1, 25), nullptr);
  // Too far from every recent frame: remembered, not filled.
  session->decodingFailedForPresentationTimestamp(pm::MediaTime::make(9, 25), nullptr);
  std::vector<std::int64_t> shown;
  while (const auto sample = session->nextVideoSampleBuffer()) shown.push_back(indexOf(sample, fd));
  EXPECT_EQ(shown, (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(log_.linesWith("\"fake clip\": Error: Frame 1 could not be decoded. Frame 0 got duplicated"), 1u);
  EXPECT_EQ(log_.linesWith("Error: Frame 9 could not be decoded. Will try to duplicate another frame"), 1u);
  session->discard();
}

TEST_F(SessionFrameOutputTest, BrokenTimesNeitherStallNorSpinTheOrdering) {
  const auto fd = pm::MediaTime::make(1, 25);
  const auto session = open(25, fd);
  // Zero durations count one natural frame; then a jump of 100 s with
  // decode times, which must resync rather than walk 2500 missing frames.
  for (std::int64_t i = 0; i < 5; ++i) {
    session->decoderDidProduceFrame(decodedFrame(pm::MediaTime::make(i, 25), pm::MediaTime::make(0, 25),
                                                 pm::MediaTime::make(i, 25)),
                                    nullptr);
  }
  for (std::int64_t i = 2500; i < 2505; ++i) session->decoderDidProduceFrame(frame(i, fd, true), nullptr);
  EXPECT_EQ(session->decodeAheadFrameCount(), 10);
  EXPECT_EQ(log_.linesWith("Frame may be missing"), 0u);
  EXPECT_EQ(log_.linesWith("resyncing"), 1u);
  session->discard();
}

TEST_F(SessionFrameOutputTest, TheDecodingLoopStopsAtTheDecodeAheadAndFinishesTheClip) {
  decoderRecord_->echoes.store(true);
  FakeReader::Setup setup;
  for (std::int64_t i = 0; i < 100; ++i) setup.samples.push_back({videoSample(i, 25), 0});
  const auto fd = pm::MediaTime::make(1000, 25000);
  const auto session = open(25, pm::MediaTime::make(1, 25), std::move(setup));
  session->setAllowedBufferPercentage(1.0);  // 8 s read, 1.6 s decoded
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return session->status() == media::kSessionStatusFinishedReading && !session->isDecoding(); },
      "reading to end and decoding to pause"));
  EXPECT_EQ(session->decodeAheadFrameCount(), 40);
  EXPECT_TRUE(session->isReadyForPlayback());
  std::vector<std::int64_t> shown;
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] {
        if (const auto sample = session->nextVideoSampleBuffer()) shown.push_back(indexOf(sample, fd));
        return session->isFinishedPlaying();
      },
      "the clip to play out"));
  ASSERT_EQ(shown.size(), 100u);
  for (std::int64_t i = 0; i < 100; ++i) EXPECT_EQ(shown[static_cast<std::size_t>(i)], i);
  EXPECT_FALSE(session->nextVideoSampleBuffer());
  ASSERT_TRUE(delegateQueue_->sync([] {}, std::chrono::seconds(10)));
  EXPECT_EQ(delegate_->count("decompressed all"), 1u);
  EXPECT_EQ(delegate_->count("ready"), 1u);
  session->discard();
}

TEST_F(SessionFrameOutputTest, AStillRepeatsItsFrameUntilTheOutPoint) {
  FakeReader::Setup setup;
  setup.assetType = media::kAssetTypeImage;
  const auto session = open(25, pm::MediaTime::make(1, 25), std::move(setup));
  reader_->setOutPoint(pm::MediaTime::make(10, 25));
  session->decoderDidProduceFrame(frame(0, pm::MediaTime::make(1, 25)), nullptr);
  int handedOut = 0;
  while (session->nextVideoSampleBuffer()) ++handedOut;
  // Positions 0 ... 9: the last one plus a frame reaches the out point.
  EXPECT_EQ(handedOut, 10);
  EXPECT_TRUE(session->isFinishedPlaying());
  // No audio tracks: no audio at all, not silence.
  EXPECT_EQ(session->nextAudioSamples(1920), nullptr);
  session->discard();
}

}  // namespace
