#include <cstring>
#include <numeric>

#include "captions/CVNCCUtilities.h"
#include "engine/OutputAudioConversion.h"
#include "tests/engine/lib/EngineHarness.h"

namespace engine_lib_tests {
namespace {

using platform::media::SampleBufferRef;

// An engine whose frames come from the test: the same captions and audio every pull.
class ScriptedEngine final : public engine::CVNEngineBase {
 public:
  ScriptedEngine() : CVNEngineBase(nullptr) {}
  std::shared_ptr<pluginframework::CVNVideoOutput> selectedOutput() const override { return output; }
  bool copyNextPixelBuffer(std::shared_ptr<platform::media::PixelBuffer>*, const std::uint8_t** audioSamples,
                           std::uint32_t, SampleBufferRef* closedCaptionBuffer, SampleBufferRef*, bool,
                           std::int64_t) override {
    *audioSamples = audio.data();
    *closedCaptionBuffer = captions;
    return true;
  }

  std::shared_ptr<engine_host::TestOutput> output;
  SampleBufferRef captions;
  std::vector<std::uint8_t> audio;
};

class RecordingAuxiliary final : public engine::CVNAuxiliaryOutput {
 public:
  void engineWillStart(engine::CVNEngineBase&) override { calls.push_back("start"); }
  void engineWillStop(engine::CVNEngineBase&) override { calls.push_back("stop"); }
  void engineWillSendPixelBuffer(engine::CVNEngineBase&, const std::shared_ptr<platform::media::PixelBuffer>&,
                                 const SampleBufferRef& audioBuffer, const SampleBufferRef&, const SampleBufferRef&,
                                 const pluginframework::VANCPackets& packets) override {
    audio.push_back(audioBuffer);
    vancPackets.push_back(packets.size());
  }
  std::vector<std::string> calls;
  std::vector<SampleBufferRef> audio;
  std::vector<std::size_t> vancPackets;
};

class EngineFramePullTest : public ::testing::Test {
 protected:
  EngineFramePullTest() {
    engine.setEngineASBD(pcm16(2));
    engine.audio.resize(4 * 2002);
    engine.captions = captions::CVNCCUtilities::createEmptyCEA608SampleBufferWithPTS(
        platform::media::MediaTime::zero(), frameDuration(), 0);
  }
  void useOutput(std::int32_t width, std::int32_t height) {
    engine.output = std::make_shared<engine_host::TestOutput>(mixer_tests::mode(width, height, 1001, 30000),
                                                              mixer_tests::k2vuy);
    engine.output->audioFormat = pcm16(2);
  }
  static platform::media::MediaTime frameDuration() { return platform::media::MediaTime::make(1001, 30000); }
  SampleBufferRef pullCaptions() {
    SampleBufferRef captions;
    engine.copyNextPixelBufferV2(nullptr, nullptr, 1601, &captions, nullptr, nullptr, false, 0);
    return captions;
  }

  ScriptedEngine engine;
};

TEST_F(EngineFramePullTest, CaptionsAreConformedOnlyBeyondStandardDefinition) {
  const struct {
    std::int32_t width;
    std::int32_t height;
    bool conformed;
  } cases[] = {{720, 486, false}, {721, 486, true}, {1280, 720, true}};
  for (const auto& c : cases) {
    useOutput(c.width, c.height);
    const auto captions = pullCaptions();
    ASSERT_TRUE(captions) << c.width;
    EXPECT_EQ(captions != engine.captions, c.conformed) << c.width;
    EXPECT_EQ(captions->formatDescription()->mediaSubType(),
              c.conformed ? captions::kCEA708SubType : captions::kCEA608SubType)
        << c.width;
  }
}

TEST_F(EngineFramePullTest, LiveSubtitlesReplaceCaptionsUntilTenFramesAfterTheyStop) {
  useOutput(720, 486);  // standard definition: the pulled captions go out as they are
  engine.startEngine();
  EXPECT_FALSE(engine.displaySubtitleRecord(nullptr)) << "not shown while live subtitling is off";
  engine.setZiraSubtitlingEnabled(true);
  EXPECT_TRUE(engine.output->vancOverride);
  EXPECT_TRUE(engine.displaySubtitleRecord(nullptr));
  for (int i = 0; i < 5; ++i) EXPECT_NE(pullCaptions(), engine.captions) << "frame " << i << " while on";

  engine.setZiraSubtitlingEnabled(false);
  EXPECT_FALSE(engine.output->vancOverride);
  EXPECT_FALSE(engine.ziraSubtitlingEnabled());
  for (std::uint64_t i = 0; i < engine::kZiraSubtitlingStoppingFrames; ++i)
    EXPECT_NE(pullCaptions(), engine.captions) << "tail frame " << i;
  EXPECT_EQ(pullCaptions(), engine.captions) << "the pulled captions return";
  engine.stopEngine();
}

TEST(OutputAudioConversion, AFrameThatWouldPassTheRingEndIsWrittenAtItsStart) {
  const auto conversion = engine::OutputAudioConversion::create(pcm16(2), pcm16(4));
  ASSERT_TRUE(conversion);
  const std::vector<std::uint8_t> silence(4 * 1602, 0);
  const std::uint8_t* start = conversion->convert(silence.data(), 1000);
  for (int i = 1; i < 47; ++i) conversion->convert(silence.data(), 1000);
  ASSERT_EQ(conversion->sampleOffset(), 47000u);
  EXPECT_EQ(conversion->convert(silence.data(), 1602), start);
  EXPECT_EQ(conversion->sampleOffset(), 1602u);
}

TEST_F(EngineFramePullTest, TheOutputGetsEngineAudioInItsOwnFormat) {
  useOutput(1920, 1080);
  engine.output->audioFormat = pcm16(4);
  std::vector<std::int16_t> stereo(2 * 1602);
  for (std::size_t i = 0; i < 1602; ++i) {
    stereo[2 * i] = static_cast<std::int16_t>(i);
    stereo[2 * i + 1] = static_cast<std::int16_t>(-static_cast<int>(i));
  }
  std::memcpy(engine.audio.data(), stereo.data(), stereo.size() * 2);
  engine.startEngine();
  engine.output->setDelegate(&engine);

  std::vector<std::int16_t> quad;
  ASSERT_TRUE(engine.output->pull(1602, nullptr, &quad));
  ASSERT_EQ(quad.size(), 4u * 1602);
  for (std::size_t i = 0; i < 1602; i += 401) {
    EXPECT_EQ(quad[4 * i], stereo[2 * i]) << i;
    EXPECT_EQ(quad[4 * i + 1], stereo[2 * i + 1]) << i;
    EXPECT_EQ(quad[4 * i + 2], 0) << "a channel the engine lacks is silent";
    EXPECT_EQ(quad[4 * i + 3], 0);
  }
  engine.output->setDelegate(nullptr);
  engine.stopEngine();
}

TEST_F(EngineFramePullTest, AuxiliariesStartGetEveryFrameAndStop) {
  useOutput(1920, 1080);
  const auto device = std::make_shared<engine_host::TestOutput>(nullptr, 0);
  const auto first = std::make_shared<RecordingAuxiliary>();
  const auto second = std::make_shared<RecordingAuxiliary>();
  engine.addAuxiliaryOuput(device);
  engine.addAuxiliaryOuput(first);
  engine.addAuxiliaryOuput(second);
  engine.startEngine();
  EXPECT_TRUE(device->isRunning());
  EXPECT_EQ(device->selectedDisplayMode(), engine.output->selectedDisplayMode());

  engine.addVANCPacket(std::make_shared<captions::CVNVANCPacket>(9, 0x41, 0x07, std::vector<std::uint8_t>{1, 2}));
  pluginframework::VANCPackets handedOut;
  engine.copyNextPixelBufferV2(nullptr, nullptr, 1601, nullptr, nullptr, &handedOut, false, 2000000000);
  EXPECT_EQ(handedOut.size(), 1u);
  engine.copyNextPixelBufferV2(nullptr, nullptr, 1601, nullptr, nullptr, &handedOut, false, 0);
  EXPECT_TRUE(handedOut.empty()) << "each packet goes out once";

  EXPECT_EQ(device->framesSent(), 2u);
  ASSERT_EQ(first->audio.size(), 2u);
  EXPECT_EQ(first->vancPackets, (std::vector<std::size_t>{1, 0}));
  ASSERT_TRUE(first->audio[0]);
  EXPECT_EQ(first->audio[0], second->audio[0]) << "one audio sample buffer serves every auxiliary";
  EXPECT_EQ(first->audio[0]->numSamples(), 1601u);
  EXPECT_EQ(first->audio[0]->dataBuffer()->data(), engine.audio.data()) << "the engine's audio, not a copy";
  EXPECT_EQ(first->audio[0]->sampleTimingInfoArray().at(0).presentationTimeStamp.seconds(), 2.0);

  engine.removeAuxiliaryOutput(second);
  engine.stopEngine();
  EXPECT_EQ(device->stopReasons(), std::vector<std::string>{"Engine stopped"});
  EXPECT_EQ(first->calls, (std::vector<std::string>{"start", "stop"}));
  EXPECT_EQ(second->calls, std::vector<std::string>{"start"});
}

TEST(EngineAudioSampleBuffer, FailuresSayWhichBufferCouldNotBeMade) {
  std::string error;
  EXPECT_FALSE(engine::CVNEngineBase::createAudioSampleBufferFromAudioPtr(
      nullptr, 10, platform::media::FormatDescription::createAudio(pcm16(2)), 0, &error));
  EXPECT_EQ(error, "Failed to create blockBuffer (Error: -12701)");
}

}  // namespace
}  // namespace engine_lib_tests
