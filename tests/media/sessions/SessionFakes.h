#pragma once
// Scripted stand-ins for a session's reader, decoder, audio engine and
// delegate: the reader plays back a list of samples (then ends, or goes
// silent for good), the decoder records its settings, the audio engine
// hands each PCM buffer's bytes straight out (or fails to start), and the
// delegate records its callbacks.

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "media/decoders/CVNDecoderProtocol.h"
#include "media/readers/CVNAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "media/sessions/SessionAudio.h"

namespace session_fakes {

namespace pm = platform::media;

pm::AudioStreamBasicDescription pcm16Stereo();
// A one-frame video sample at frame `index` of `fps`.
pm::SampleBufferRef videoSample(std::int64_t index, double fps, bool doNotDisplay = false);
// `frames` frames of 16-bit stereo PCM at 48 kHz starting at frame `start`.
pm::SampleBufferRef audioSample(std::int64_t start, std::uint32_t frames);
pm::SampleBufferRef timecodeSample(std::int64_t index, double fps);
// A decoded 16x16 '2vuy' picture with this timing (dts none when invalid).
pm::SampleBufferRef decodedFrame(pm::MediaTime pts, pm::MediaTime duration, pm::MediaTime dts = pm::MediaTime::invalid());

struct ScriptedSample {
  pm::SampleBufferRef sample;
  std::int32_t track = 0;
};

class FakeReader final : public media::CVNAssetReader {
 public:
  struct Setup {
    std::int32_t assetType = media::kAssetTypeQuickTimeMovie;
    bool valid = true;
    double fps = 25;
    std::int64_t audioTracks = 0;
    std::vector<ScriptedSample> samples{};
    bool endsAfterScript = true;  // else it never delivers again nor finishes
    bool examines = true;         // false: loading never completes
  };
  explicit FakeReader(Setup setup);

  void loadInfoWithMetadata(bool, bool, CompletionHandler handler) override {
    if (setup_.examines) handler();
  }
  pm::MediaTime frameRateAsCMTime() const override;
  pm::MediaTime frameDuration() const override;
  double framerate() const override { return setup_.fps; }
  std::int64_t numberOfAudioTracks() const override { return setup_.audioTracks; }
  pm::SampleBufferRef nextSampleBufferForTrackIndex(std::int32_t* trackIndex) override;
  void updateOutPoint(double seconds) override;
  void seekToTime(double seconds, bool precisely, bool backwards) override;

  struct Seek {
    double seconds;
    bool precisely;
  };
  std::vector<Seek> seeks() const;

  std::size_t emptyAnswers() const { return emptyAnswers_.load(); }
  std::size_t delivered() const { return next_.load(); }

 private:
  Setup setup_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> emptyAnswers_{0};
  mutable std::mutex seeksMutex_;
  std::vector<Seek> seeks_;  // guarded by seeksMutex_
};

class FakeDecoder final : public media::CVNDecoderProtocol {
 public:
  struct Record {
    std::atomic<std::uint64_t> poolSize{0};
    std::atomic<std::uint32_t> pixelFormat{0};
    std::atomic<bool> setUp{false};
    std::atomic<bool> invalidated{false};
    // Each decode completes at once with a picture of the sample's timing.
    std::atomic<bool> echoes{false};
    std::atomic<int> flushes{0};
  };
  FakeDecoder(std::shared_ptr<Record> record, std::int64_t framesNeeded) : record_(std::move(record)), framesNeeded_(framesNeeded) {}

  std::int64_t framesNeededForPlayback() const override { return framesNeeded_; }
  void setDelegate(media::CVNDecoderDelegateProtocol*) override {}
  void setOutputDimensions(std::int32_t, std::int32_t) override {}
  void setPixelFormat(pm::FourCharCode format) override { record_->pixelFormat.store(format); }
  void setPixelBufferPoolSize(std::uint64_t size) override { record_->poolSize.store(size); }
  void setShouldProduceGlobalIOSurface(bool) override {}
  bool shouldProduceGlobalIOSurface() const override { return false; }
  void setMetalAPIEnabled(bool) override {}
  bool extractCCFromVideoFrames() const override { return false; }
  void setExtractCCFromVideoFrames(bool) override {}
  bool setup() override {
    record_->setUp.store(true);
    return true;
  }
  void decodeSampleBuffer(const pm::SampleBufferRef& sample, bool, media::DecodeCompletionHandler handler) override;
  void flush() override { record_->flushes.fetch_add(1); }
  void finish() override {}
  void invalidate() override { record_->invalidated.store(true); }

 private:
  std::shared_ptr<Record> record_;
  std::int64_t framesNeeded_;
};

class PassThroughAudio final : public media::SessionAudio {
 public:
  explicit PassThroughAudio(bool starts) : starts_(starts) {}
  void setOutputFormat(const pm::AudioStreamBasicDescription&) override {}
  void addInputWithFormatDescription(const pm::FormatDescriptionRef&, double) override {}
  bool start() override { return starts_; }
  void setOutputCallback(OutputCallback callback) override { callback_ = std::move(callback); }
  void processBuffer(const pm::SampleBufferRef& buffer, std::size_t, bool) override;
  void setSyncTime(pm::MediaTime) override {}
  void setOutputVolume(double) override {}

 private:
  bool starts_;
  OutputCallback callback_;
};

class RecordingDelegate final : public media::CVNDecompressionSessionDelegate {
 public:
  void decompressionSessionDidInitialize(media::CVNSessionBase&) override { add("initialized"); }
  void decompressionSessionIsReadyForPlayback(media::CVNSessionBase&) override { add("ready"); }
  void decompressionSessionDidReadAllFrames(media::CVNSessionBase&) override { add("read all"); }
  void decompressionSessionDidDecompressAllFrames(media::CVNSessionBase&) override { add("decompressed all"); }
  bool shouldInverseFieldOrder() override { return false; }

  std::vector<std::string> calls() const;
  std::size_t count(const std::string& call) const;

 private:
  void add(std::string call);
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;  // guarded by mutex_
};

// The standard services with the fakes above: a decoder needing `framesNeeded`
// frames (none for `framesNeeded` < 0) and an audio engine that starts or not.
media::DecompressionSessionServices fakeServices(std::shared_ptr<FakeDecoder::Record> record, std::int64_t framesNeeded,
                                                 bool audioStarts = true);

}  // namespace session_fakes
