// One output frame delivered by a clip item on the CPU path: the item takes a
// decoded 1280x720 picture and centres it into a 1920x1080 buffer of the
// shared pool. The peer in the same run is memcpy of one output frame; the
// counters give the ratio and the share of a 20 ms frame at 50 fps.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "benchmarks/BenchmarkSupport.h"
#include "engine/items/CVNMediaQueuePlayerItem.h"

namespace {

namespace pm = platform::media;
using engine::items::CVNMediaQueuePlayerItem;

// Hands out the same decoded picture for every frame.
class RepeatingSession final : public media::CVNSessionBase {
 public:
  RepeatingSession(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> queue, pm::SampleBufferRef picture)
      : media::CVNSessionBase(std::move(delegate), std::move(queue)), picture_(std::move(picture)) {
    setContent(media::kContentVideoOnly);
  }
  pm::SampleBufferRef nextVideoSampleBuffer() override { return picture_; }
  pm::MediaTime frameRateAsCMTime() const override { return pm::MediaTime::make(25, 1); }

 private:
  pm::SampleBufferRef picture_;
};

class QuietDelegate final : public engine::items::CVNQueuePlayerItemDelegate {
 public:
  std::shared_ptr<platform::DispatchQueue> playerItemDelegateDispatchQueue() override { return queue_; }
  std::int32_t fieldToRender() override { return 1; }
  void queuePlayerItemDidInitialize(engine::items::CVNQueuePlayerItem&) override {}
  void queuePlayerItemDidStartReadingFrames(engine::items::CVNQueuePlayerItem&) override {}
  void queuePlayerItemDidBecomeReadyForPlayback(engine::items::CVNQueuePlayerItem&) override {}
  void queuePlayerItemDidReadAllFrames(engine::items::CVNQueuePlayerItem&) override {}
  void queuePlayerItemDidDecompressAllFrames(engine::items::CVNQueuePlayerItem&) override {}
  void queuePlayerItemDidRenderAllFrames(engine::items::CVNQueuePlayerItem&) override {}
  void ziraSessionDidNotReceiveAnyFramesSinceForPlayerItem(media::CVNSessionBase&, double,
                                                           engine::items::CVNQueuePlayerItem&) override {}
  void queuePlayerItemChangedEndBehaviourFromTo(engine::items::CVNQueuePlayerItem&, std::int32_t, std::int32_t) override {}

 private:
  std::shared_ptr<platform::DispatchQueue> queue_ = std::make_shared<platform::SerialQueue>("bench.queuePlayer");
};

pm::SampleBufferRef decodedPicture(pm::FourCharCode format) {
  std::shared_ptr<pm::PixelBuffer> image;
  pm::PixelBuffer::create(1280, 720, format, {}, &image);
  std::memset(image->baseAddress(), 0x5A, image->bytesPerRow() * image->height());
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createForImageBuffer(image, pm::FormatDescription::createForPixelBuffer(*image),
                                         {pm::MediaTime::make(1, 25), pm::MediaTime::zero(), pm::MediaTime::invalid()},
                                         &sample);
  return sample;
}

void BM_CPUDelivery1080(benchmark::State& state, pm::FourCharCode format) {
  QuietDelegate delegate;
  std::shared_ptr<RepeatingSession> session;
  engine::items::MediaItemSessionFactory factory;
  factory.makeClipSession = [&](const media::MediaURL&, const std::string&, media::CVNSessionBase::DelegateRef d,
                                auto queue) {
    session = std::make_shared<RepeatingSession>(std::move(d), std::move(queue), decodedPicture(format));
    return std::static_pointer_cast<media::CVNSessionBase>(session);
  };
  factory.clipTypeOfSession = [](const media::CVNSessionBase&) { return engine::items::kClipTypeMovie; };
  auto item = CVNMediaQueuePlayerItem::create(factory);
  item->setDelegate(&delegate);
  item->setOutputDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
      "1080p50", 1000, 50000, 1920, 1080, pluginframework::FieldDominance::Progressive));
  pm::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = format;
  attributes.width = 1920;
  attributes.height = 1080;
  std::shared_ptr<pm::PixelBufferPool> pool;
  pm::PixelBufferPool::create(attributes, &pool);
  item->setSharedPixelBufferPool(pool);
  item->applySettingsFromDictionary({{"itemURL", platform::Value("/bench/clip.mov")},
                                     {"itemOutputBufferFormat", platform::Value(std::int64_t{format})}});
  item->decompressionSessionDidInitialize(*session);
  item->decompressionSessionIsReadyForPlayback(*session);

  std::shared_ptr<pm::PixelBuffer> peerSource;
  pool->createPixelBuffer(&peerSource);
  const std::size_t frameBytes = peerSource->bytesPerRow() * peerSource->height();
  std::vector<std::uint8_t> peerDestination(frameBytes);
  bench::FastestRun delivery;
  bench::FastestRun peer;
  for (auto _ : state) {
    std::shared_ptr<pm::PixelBuffer> frame;
    delivery.add(bench::secondsOf([&] { frame = item->nextPixelBufferByAllowingItemToDequeue(true, 2); }));
    benchmark::DoNotOptimize(frame->baseAddress());
    peer.add(bench::secondsOf([&] { std::memcpy(peerDestination.data(), peerSource->baseAddress(), frameBytes); }));
    benchmark::DoNotOptimize(peerDestination.data());
  }
  state.counters["delivery_us"] = delivery.seconds() * 1e6;
  state.counters["memcpy_us"] = peer.seconds() * 1e6;
  state.counters["ratio_vs_memcpy"] = delivery.seconds() / peer.seconds();
  state.counters["share_of_20ms_frame"] = delivery.seconds() / 0.020;
}

BENCHMARK_CAPTURE(BM_CPUDelivery1080, 2vuy, pm::kPixelFormat422YpCbCr8)->UseRealTime();
BENCHMARK_CAPTURE(BM_CPUDelivery1080, v210, pm::kPixelFormat422YpCbCr10)->UseRealTime();

}  // namespace
