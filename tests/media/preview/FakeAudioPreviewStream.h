#pragma once
// A stand-in for the audio preview's output stream: it records what is
// enqueued and the volume, start, pause and stop calls; the test plays the
// server and asks for buffers with request().

#include <cstdint>
#include <memory>
#include <vector>

#include "media/preview/AudioPreviewStream.h"

namespace preview_fakes {

struct FakeStreamRecord {
  std::vector<std::vector<std::uint8_t>> enqueued;
  std::vector<double> volumes;
  int starts = 0;
  int pauses = 0;
  int stops = 0;
  bool exists = false;
  media::AudioPreviewWriteRequest writeRequest;
};

class FakeAudioPreviewStream final : public media::AudioPreviewStream {
 public:
  explicit FakeAudioPreviewStream(std::shared_ptr<FakeStreamRecord> record) : record_(std::move(record)) {
    record_->exists = true;
  }
  ~FakeAudioPreviewStream() override { record_->exists = false; }
  int enqueue(const std::uint8_t* bytes, std::size_t count) override {
    record_->enqueued.emplace_back(bytes, bytes + count);
    return 0;
  }
  bool setVolume(double volume) override {
    record_->volumes.push_back(volume);
    return true;
  }
  void start() override { ++record_->starts; }
  void pause() override { ++record_->pauses; }
  void stop() override { ++record_->stops; }
  // The server wants one buffer.
  void request() { record_->writeRequest(*this); }

 private:
  std::shared_ptr<FakeStreamRecord> record_;
};

// A factory whose streams report to `record`; `latest` is the last one made.
inline media::AudioPreviewStreamFactory fakeStreamFactory(std::shared_ptr<FakeStreamRecord> record,
                                                          FakeAudioPreviewStream** latest = nullptr) {
  return [record, latest](const platform::media::AudioStreamBasicDescription&, std::size_t,
                          media::AudioPreviewWriteRequest writeRequest) -> std::unique_ptr<media::AudioPreviewStream> {
    record->writeRequest = std::move(writeRequest);
    auto stream = std::make_unique<FakeAudioPreviewStream>(record);
    if (latest) *latest = stream.get();
    return stream;
  };
}

// No server: every stream fails to open.
inline media::AudioPreviewStreamFactory noServerFactory() {
  return [](const platform::media::AudioStreamBasicDescription&, std::size_t, media::AudioPreviewWriteRequest) {
    return std::unique_ptr<media::AudioPreviewStream>();
  };
}

}  // namespace preview_fakes
