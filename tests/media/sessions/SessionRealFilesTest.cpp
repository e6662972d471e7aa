// Sessions over real files made with ffmpeg at test time, through the real
// readers, decoder selection and audio engine: the ring holds what ffmpeg
// makes of the same file, late audio stops video reading at 15 s, and a
// click at 1.000 s lands at output frame 48000.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "media/readers/audio/CVNAudioAssetReader.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/audio/AudioFixtures.h"
#include "tests/media/sessions/SessionFakes.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using media::CVNDecompressionSession;

std::vector<std::int16_t> ringSamples(const media::CVNCircularBuffer& ring) {
  std::vector<std::int16_t> values(ring.availableBytesForReading() / 2);
  std::memcpy(values.data(), ring.getReadPointer(), values.size() * 2);
  return values;
}

std::vector<std::int16_t> ffmpegPCM(const std::filesystem::path& file) {
  const auto bytes = testing_support::commandOutputOnce("ffmpeg -v error -i", file, "-ar 48000 -ac 2 -f s16le -");
  std::vector<std::int16_t> values(bytes.size() / 2);
  std::memcpy(values.data(), bytes.data(), values.size() * 2);
  return values;
}

// Difference to the reference in dB of its power over frames 4800 ... 52800,
// at the best lag within ±64 frames.
double differenceDecibels(const std::vector<std::int16_t>& ours, const std::vector<std::int16_t>& reference) {
  constexpr int kMaxLag = 64;
  if ((52800 + kMaxLag) * 2 > ours.size() || 52800 * 2 > reference.size()) return 0;
  // Raw pointers: checked element access made this loop most of the test's time in the sanitizer build.
  const std::int16_t* const theirs = reference.data();
  double best = 1e300;
  for (int lag = -kMaxLag; lag <= kMaxLag; ++lag) {
    const std::int16_t* const shifted = ours.data() + lag * 2;
    double difference = 0;
    double power = 0;
    for (std::size_t i = 4800 * 2; i < 52800 * 2; ++i) {
      const double d = static_cast<double>(shifted[i]) - theirs[i];
      difference += d * d;
      power += static_cast<double>(theirs[i]) * theirs[i];
    }
    best = std::min(best, 10 * std::log10(difference / power + 1e-30));
  }
  return best;
}

class SessionRealFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    media::CVNFFmpegMovieAssetReader::registerMovieReader();
    media::CVNAudioAssetReader::registerAudioReader();
  }

  std::filesystem::path make(const std::string& name, const std::string& arguments) {
    const auto path = folder_.path() / name;
    if (!testing_support::makeFileOnce("ffmpeg -v error -y " + arguments, path)) return {};
    return path;
  }

  // Opens the file and buffers until reading stops.
  std::shared_ptr<CVNDecompressionSession> buffer(const std::filesystem::path& file) {
    auto session = CVNDecompressionSession::createWithMediaURL(media::MediaURL::fileURLWithPath(file),
                                                               std::string("clip"), delegate_, delegateQueue_);
    if (!testing_support::waitForCondition([&] { return session->status() == media::kSessionStatusInitialized; })) {
      return nullptr;
    }
    if (!session->startBuffering()) return nullptr;
    // Started, then stopped by the target, the end or the missing audio.
    testing_support::waitForCondition([&] { return session->numberOfFramesRead() > 0 || session->audioSamplesBuffered() > 0; });
    testing_support::waitForCondition([&] { return !session->isReading(); }, "reading to stop");
    return session;
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::shared_ptr<platform::DispatchQueue> delegateQueue_ = std::make_shared<platform::SerialQueue>("test.delegate");
  std::shared_ptr<session_fakes::RecordingDelegate> delegate_ = std::make_shared<session_fakes::RecordingDelegate>();
};

TEST_F(SessionRealFilesTest, TheRingHoldsWhatFFmpegMakesOfTheFile) {
  const std::pair<const char*, std::string> rows[] = {
      {"tone.wav", "-f lavfi -i sine=frequency=440:duration=3:sample_rate=44100 -ac 2 -c:a pcm_s16le"},
      {"clip.mov",
       "-f lavfi -i testsrc=duration=3:rate=25:size=160x90 -f lavfi -i sine=frequency=440:duration=3 -ac 2 "
       "-c:v libx264 -pix_fmt yuv420p -c:a aac -shortest"},
  };
  for (const auto& [name, arguments] : rows) {
    const auto file = make(name, arguments);
    ASSERT_FALSE(file.empty()) << name;
    const auto session = buffer(file);
    ASSERT_TRUE(session) << name;
    EXPECT_EQ(session->status(), media::kSessionStatusFinishedReading) << name;
    ASSERT_TRUE(session->circularAudioBuffer()) << name;
    const auto ours = ringSamples(*session->circularAudioBuffer());
    EXPECT_LT(differenceDecibels(ours, ffmpegPCM(file)), -40.0) << name;
    session->discard();
  }
}

TEST_F(SessionRealFilesTest, AudioSeventeenSecondsLateStopsVideoReadingAtFifteen) {
  const auto file = make("late.mkv",
                         "-f lavfi -i testsrc=duration=20:rate=25:size=160x90 -itsoffset 17 -f lavfi -i "
                         "sine=frequency=440:duration=3 -ac 2 -c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac");
  ASSERT_FALSE(file.empty());
  const auto session = buffer(file);
  ASSERT_TRUE(session);
  EXPECT_EQ(log_.linesWith("\"clip\": Error: Stop Reading. No audio available while video read ahead reached 15 seconds"),
            1u);
  EXPECT_NEAR(session->currentReadAheadInSeconds(), 15.0, 0.1);
  EXPECT_EQ(session->audioSamplesBuffered(), 0u);
  session->discard();
}

TEST_F(SessionRealFilesTest, AClickAtOneSecondLandsAtFrame48000) {
  const auto file = media::testing::audioFixture("click.wav");
  ASSERT_FALSE(file.empty());
  const auto session = buffer(file);
  ASSERT_TRUE(session);
  const auto ours = ringSamples(*session->circularAudioBuffer());
  std::size_t peak = 0;
  for (std::size_t i = 0; i < ours.size() / 2; ++i) {
    if (std::abs(ours[i * 2]) > std::abs(ours[peak * 2])) peak = i;
  }
  EXPECT_NEAR(static_cast<double>(peak), 48000.0, 48.0);
  session->discard();
}

}  // namespace
