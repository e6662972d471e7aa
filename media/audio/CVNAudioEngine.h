#pragma once
// Mixes and converts the audio of one or more inputs (one per audio track of
// a clip, or one per sound source of a composition) into one output format
// and hands the result to its owner through `outputCallback`.
//
// Offline mode (engineMode 1) only: nothing runs on a clock of its own; each
// fed buffer is converted into the input's rings and whatever all inputs can
// supply is rendered at once, in slices of at most 2048 frames. With one
// input at unity volumes there is no graph: converted audio goes straight to
// the callback. Otherwise each input's converter fills one ring per channel
// (float planes at 48000 Hz) and a matrix mixer renders them into the output
// format. Device mode, varispeed, effect units and level meters have no
// counterpart here: `start` refuses the first two, the others answer neutral
// values.
//
// Set-up (add inputs, properties, `start`) and feeding happen on the owner's
// thread; callers serialise their calls. Memory is fixed at `start`.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/audio/CVNAudioInputContext.h"
#include "media/audio/MatrixMixer.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/SampleBuffer.h"

namespace media {

struct AudioComponentDescription {
  std::uint32_t componentType = 0;
  std::uint32_t componentSubType = 0;
  std::uint32_t componentManufacturer = 0;
  std::uint32_t componentFlags = 0;
  std::uint32_t componentFlagsMask = 0;
};

class CVNAudioEngine {
 public:
  // Bytes in the output format, valid only during the call.
  using OutputCallback = std::function<void(const std::uint8_t* bytes, std::size_t byteCount)>;
  static constexpr std::int32_t kEngineModeDevice = 0;
  static constexpr std::int32_t kEngineModeOffline = 1;

  CVNAudioEngine();
  ~CVNAudioEngine();
  CVNAudioEngine(const CVNAudioEngine&) = delete;
  CVNAudioEngine& operator=(const CVNAudioEngine&) = delete;

  std::string name() const;
  void setName(std::string name);
  std::int32_t engineMode() const { return engineMode_; }
  void setEngineMode(std::int32_t mode) { engineMode_ = mode; }
  platform::media::AudioStreamBasicDescription outputFormat() const;
  void setOutputFormat(const platform::media::AudioStreamBasicDescription& format);
  double outputVolume() const { return outputVolume_; }
  // Clamped to [0, 2]; the mix takes it at the next `start`.
  void setOutputVolume(double volume);
  bool enableVarispeed() const { return enableVarispeed_; }
  void setEnableVarispeed(bool enable) { enableVarispeed_ = enable; }
  double varispeed() const { return varispeed_; }
  // Only while varispeed is enabled: clamped to [1/32, 32].
  void setVarispeed(double rate);
  OutputCallback outputCallback() const;
  void setOutputCallback(OutputCallback callback);
  bool isRunning() const { return isRunning_; }
  std::uint32_t audioEffectComponentSubType() const { return audioEffectComponentSubType_; }
  void setAudioEffectComponentSubType(std::uint32_t code) { audioEffectComponentSubType_ = code; }
  std::uint32_t audioEffectComponentManufacturer() const { return audioEffectComponentManufacturer_; }
  void setAudioEffectComponentManufacturer(std::uint32_t code) { audioEffectComponentManufacturer_ = code; }
  bool shouldUseGraph() const { return shouldUseGraph_; }
  const std::vector<std::unique_ptr<CVNAudioInputContext>>& inputs() const { return inputs_; }

  // Adds an input whose channels follow those of the inputs before it.
  void addInputWithFormatDescription(const platform::media::FormatDescriptionRef& format, double volume);
  // Keeps the magic cookie of 'aac ' and 'alac' formats.
  void addInputWithFormatDescription(const platform::media::FormatDescriptionRef& format, double volume,
                                     std::uint64_t outputChannelOffset);
  // Refuses (logged) a format of 0 channels, 0 Hz, over 64 channels or PCM of 0 bytes per packet.
  void addInputWithAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription& format,
                                               double volume, std::uint64_t outputChannelOffset);

  bool start();
  void pause() { isRunning_ = false; }
  void resume() {}     // device mode only
  bool stop() { return false; }  // device mode only
  // Pads short inputs with silence and renders everything buffered.
  void finish();

  // Sets cross-point [ch][ch mod 2] of the level matrix, clamped to [0, 2].
  void setVolume(float volume, std::uint32_t inputChannel);
  // -120.0 per channel of the first input: no meters here.
  void getLevelMeterDBValues(float* values) const;
  std::vector<double> vuMeterLevels() const;

  platform::media::MediaTime syncTime() const { return syncTime_; }
  // Stores the time at the output rate and empties and unaligns every input.
  void setSyncTime(platform::media::MediaTime time);

  // The render callback of mixer bus `bus`: points `list` at the bus's rings.
  std::int32_t feedAudioBufferList(platform::media::AudioBufferList& list, std::uint32_t numSamples,
                                   std::uint32_t* flags, std::uint32_t bus);
  // Feeds one buffer of input `index`; null buffers and unknown indexes are ignored.
  void processBuffer(const platform::media::SampleBufferRef& buffer, std::size_t index, bool sync);
  // `samples` frames of the input's own format at `bytes` (not copied).
  void processAudioBuffer(const void* bytes, std::uint32_t samples, std::size_t trackIndex);
  std::uint64_t samplesAvailableForProcessing() const;
  void processGraph();
  // "" without a graph.
  std::string graphString() const;

  AudioComponentDescription audioEffectComponentDescription() const;
  // No effect units here: logs the failure and answers false.
  bool addAudioEffectWithDescription(const AudioComponentDescription& description, std::int32_t* resultNode);
  void* audioEffectView() const { return nullptr; }
  // Output channel i takes input channel i, or is silent when the input has fewer.
  void setupChannelMapToAudioConverter(AudioConverter& converter);

 private:
  bool startWithoutGraph();
  bool startGraph();
  AudioStatus setUpInputForMixer(CVNAudioInputContext& input,
                                 const platform::media::AudioStreamBasicDescription& mixerFormat);
  void buildLevelMatrix();
  // false when the buffer lies wholly before the sync time.
  bool alignToSyncTime(CVNAudioInputContext& input, const platform::media::SampleBuffer& buffer);
  // false when the rings had less room than asked (what fitted is written).
  bool writeSilence(CVNAudioInputContext& input, std::uint64_t frames);
  void handOutSilence(std::uint64_t frames);
  void feedWithoutConverter(CVNAudioInputContext& input, const platform::media::SampleBuffer& buffer);
  void feedThroughConverter(CVNAudioInputContext& input, const platform::media::SampleBufferRef& buffer);
  void dropSamples(CVNAudioInputContext& input, std::uint64_t produced);
  void handOutFirstRing(CVNAudioInputContext& input);
  void deliver(const std::uint8_t* bytes, std::size_t count);

  std::int32_t engineMode_ = kEngineModeOffline;
  std::unique_ptr<MatrixMixer> mixer_;
  std::uint32_t audioEffectComponentSubType_ = 0;
  std::uint32_t audioEffectComponentManufacturer_ = 0;
  std::vector<std::unique_ptr<CVNAudioInputContext>> inputs_;
  std::uint64_t numberOfInputChannels_ = 0;
  platform::media::MediaTime syncTime_ = platform::media::MediaTime::make(0, 48000);
  bool shouldUseGraph_ = false;
  bool finishing_ = false;
  bool started_ = false;
  bool enableVarispeed_ = false;
  bool isRunning_ = false;
  double outputVolume_ = 1.0;
  double varispeed_ = 1.0;

  // What `start` fixes for rendering: the mixer's planes, the output in the
  // engine's format and zero bytes for silence handed out directly.
  std::vector<float> mixerPlanes_;  // the mixer's output planes, one after the other
  std::vector<float*> mixerPlanePointers_;
  std::vector<std::uint8_t> renderedOutput_;
  std::vector<std::uint8_t> zeroBytes_;
  std::unique_ptr<AudioConverter> outputStage_;  // mixer planes to the output format

  mutable std::mutex propertyMutex_;  // the atomic properties below
  std::string name_ = "Audio Engine";
  platform::media::AudioStreamBasicDescription outputFormat_;
  OutputCallback outputCallback_;
};

}  // namespace media
