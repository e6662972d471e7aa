// Sessions decoding real files made with ffmpeg at test time: every frame of
// a B-frame H.264 4:2:2 clip leaves in presentation order with ffmpeg's own
// picture, damaged files play to their end with duplicates for the frames
// that fail, and quick precise scrubs land on the frame ffmpeg shows then.

#include <gtest/gtest.h>

#include <cmath>

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/PacketSource.h"
#include "tests/media/sessions/SessionFakes.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using media::CVNDecompressionSession;
namespace pm = platform::media;

constexpr const char* kSource = "-f lavfi -i testsrc=duration=4:rate=25:size=160x90";
constexpr const char* kX264Options = "-c:v libx264 -pix_fmt yuv422p -bf 3 -g 25";

class SessionDecodingRealFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { media::CVNFFmpegMovieAssetReader::registerMovieReader(); }

  std::filesystem::path make(const std::string& name, const std::string& arguments) {
    const auto path = folder_.path() / name;
    if (!testing_support::makeFileOnce("ffmpeg -v error -y " + arguments, path)) return {};
    return path;
  }

  // A session buffering the file, ready for playback at 25 fps output.
  std::shared_ptr<CVNDecompressionSession> play(const std::filesystem::path& file) {
    auto session = CVNDecompressionSession::createWithMediaURL(media::MediaURL::fileURLWithPath(file),
                                                               std::string("clip"), delegate_, delegateQueue_);
    if (!testing_support::waitForCondition([&] { return session->status() == media::kSessionStatusInitialized; })) {
      return nullptr;
    }
    session->setOutputFrameDuration(pm::MediaTime::make(1, 25));
    if (!session->startBuffering()) return nullptr;
    session->setAllowedBufferPercentage(1.0);
    // The delegate heard it, so no readiness call is still on its way.
    if (!testing_support::waitForCondition([&] { return delegate_->count("ready") > 0; }, "readiness")) return nullptr;
    return session;
  }

  // Every frame handed out until playback ends: hash and position.
  static std::vector<std::pair<std::string, double>> playOut(CVNDecompressionSession& session) {
    std::vector<std::pair<std::string, double>> frames;
    testing_support::waitForCondition(
        [&] {
          if (const auto sample = session.nextVideoSampleBuffer()) {
            frames.emplace_back(media::testing::pictureHash(*sample->imageBuffer()),
                                sample->outputPresentationTimeStamp().seconds());
          }
          return session.isFinishedPlaying();
        },
        "the clip to play out", std::chrono::seconds(30));
    return frames;
  }

  void flushCallbacks() { ASSERT_TRUE(delegateQueue_->sync([] {}, std::chrono::seconds(10))); }

  // A precise scrub, waited for until the delegate hears the session is ready.
  bool scrubAndWait(CVNDecompressionSession& session, double seconds, bool quickly) {
    flushCallbacks();
    const auto readyBefore = delegate_->count("ready");
    session.scrubToTime(seconds, quickly, true);
    return testing_support::waitForCondition([&] { return delegate_->count("ready") > readyBefore; },
                                             "the scrub's first frame");
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::shared_ptr<platform::DispatchQueue> delegateQueue_ = std::make_shared<platform::SerialQueue>("test.delegate");
  std::shared_ptr<session_fakes::RecordingDelegate> delegate_ = std::make_shared<session_fakes::RecordingDelegate>();
};

TEST_F(SessionDecodingRealFilesTest, EveryFrameLeavesInOrderWithFFmpegsPicture) {
  const auto file = make("bframes.mov", std::string(kSource) + " " + kX264Options);
  ASSERT_FALSE(file.empty());
  const auto reference = media::testing::ffmpegFrameHashes(file, "-pix_fmt uyvy422");
  ASSERT_EQ(reference.size(), 100u);
  const auto session = play(file);
  ASSERT_TRUE(session);
  const auto frames = playOut(*session);
  ASSERT_EQ(frames.size(), reference.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].first, reference[i]) << "frame " << i;
    EXPECT_NEAR(frames[i].second, i / 25.0, 1e-6) << "frame " << i;
  }
  session->discard();
}

TEST_F(SessionDecodingRealFilesTest, AWhiteFrameAndAClickAtOneSecondLeaveInTheSameOutputFrame) {
  const auto file = make("sync.mov",
                         "-f lavfi -i color=c=black:s=64x48:r=25:d=3 -f lavfi -i "
                         "\"aevalsrc='if(eq(floor(t*48000),48000),0.9,0)':s=48000:d=3\" -vf "
                         "\"drawbox=color=white:t=fill:enable='eq(n,25)'\" -ac 2 -c:v libx264 -pix_fmt yuv422p "
                         "-c:a pcm_s16le");
  ASSERT_FALSE(file.empty());
  const auto session = play(file);
  ASSERT_TRUE(session);
  int whiteFrame = -1;
  int clickFrame = -1;
  int outputFrame = 0;
  testing_support::waitForCondition(
      [&] {
        const auto sample = session->nextVideoSampleBuffer();
        if (!sample) return session->isFinishedPlaying();
        const auto& picture = *sample->imageBuffer();
        // '2vuy': the first luma byte of the middle row.
        if (whiteFrame < 0 && picture.baseAddress()[picture.bytesPerRow() * picture.height() / 2 + 1] > 200) {
          whiteFrame = outputFrame;
        }
        const auto* audio = reinterpret_cast<const std::int16_t*>(session->nextAudioSamples(1920));
        for (int i = 0; audio && clickFrame < 0 && i < 1920 * 2; ++i) {
          if (std::abs(audio[i]) > 16000) clickFrame = outputFrame;
        }
        ++outputFrame;
        return session->isFinishedPlaying();
      },
      "the clip to play out", std::chrono::seconds(30));
  EXPECT_EQ(whiteFrame, 25);
  EXPECT_EQ(clickFrame, whiteFrame);
  session->discard();
}

TEST_F(SessionDecodingRealFilesTest, DamagedFilesPlayToTheEndWithDuplicates) {
  const std::pair<const char*, std::string> rows[] = {
      // Packets chosen by their index, so no run loses the clip's last frame.
      {"dropped.mkv", std::string(kSource) + " " + kX264Options + " -bsf:v 'noise=drop=eq(mod(n\\,20)\\,10)'"},
      {"flipped.mkv", std::string(kSource) + " " + kX264Options + " -bsf:v 'noise=amount=if(eq(n\\,40)\\,5\\,0)'"},
  };
  std::size_t duplicates = 0;
  for (const auto& [name, arguments] : rows) {
    const auto file = make(name, arguments);
    ASSERT_FALSE(file.empty()) << name;
    const auto session = play(file);
    ASSERT_TRUE(session) << name;
    const auto frames = playOut(*session);
    // The clip plays to its end, every output frame exists (missing and
    // failed ones stood in for by logged duplicates), no position twice.
    const auto duplicatesBefore = duplicates;
    duplicates = log_.linesWith("got duplicated");
    EXPECT_GT(duplicates, duplicatesBefore) << name;
    EXPECT_EQ(frames.size(), 100u) << name;
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_NEAR(frames[i].second, i / 25.0, 1e-6) << name << " " << i;
    session->discard();
  }
}

TEST_F(SessionDecodingRealFilesTest, AQuickScrubShowsTheFrameAtItsTime) {
  // Long enough that reading has not reached the end when the scrubs come.
  const auto file = make("scrub.mov", "-f lavfi -i testsrc=duration=20:rate=25:size=160x90 " + std::string(kX264Options));
  ASSERT_FALSE(file.empty());
  const auto reference = media::testing::ffmpegFrameHashes(file, "-pix_fmt uyvy422");
  ASSERT_EQ(reference.size(), 500u);
  const auto session = play(file);
  ASSERT_TRUE(session);
  for (const double seconds : {2.4, 0.52, 3.0}) {
    ASSERT_TRUE(scrubAndWait(*session, seconds, true));
    const auto head = session->videoBufferHead();
    ASSERT_TRUE(head);
    const auto index = static_cast<std::size_t>(std::lround(seconds * 25));
    EXPECT_EQ(media::testing::pictureHash(*head->imageBuffer()), reference[index]) << seconds;
    EXPECT_NEAR(session->playbackPTS().seconds(), index / 25.0, 1e-6) << seconds;
  }
  session->discard();
}

TEST_F(SessionDecodingRealFilesTest, AScrubAfterTheEndShowsTheFrameAtItsTimeAndPlaysOnFromThere) {
  for (const char* name : {"short.mov", "short.mkv", "short.ts"}) {
    const auto file = make(name, std::string(kSource) + " " + kX264Options);
    ASSERT_FALSE(file.empty()) << name;
    const auto reference = media::testing::ffmpegFrameHashes(file, "-pix_fmt uyvy422");
    ASSERT_EQ(reference.size(), 100u) << name;
    const auto session = play(file);
    ASSERT_TRUE(session) << name;
    ASSERT_EQ(playOut(*session).size(), reference.size()) << name;
    for (const double seconds : {1.2, 3.0}) {
      ASSERT_TRUE(scrubAndWait(*session, seconds, true)) << name;
      const auto head = session->videoBufferHead();
      ASSERT_TRUE(head) << name;
      const auto index = static_cast<std::size_t>(std::lround(seconds * 25));
      EXPECT_EQ(media::testing::pictureHash(*head->imageBuffer()), reference[index]) << name << " " << seconds;
      // Playing on from there after a normal scrub gives the frames after it, not those of before.
      ASSERT_TRUE(scrubAndWait(*session, seconds, false)) << name;
      const auto rest = playOut(*session);
      ASSERT_FALSE(rest.empty()) << name << " " << seconds;
      EXPECT_EQ(rest.front().first, reference[index]) << name << " " << seconds;
      EXPECT_EQ(rest.size(), reference.size() - index) << name << " " << seconds;
    }
    session->discard();
  }
}

}  // namespace
