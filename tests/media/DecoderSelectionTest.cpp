#include <gtest/gtest.h>

#include <latch>
#include <mutex>
#include <set>
#include <thread>

#include "media/decoders/CVNDecoder.h"
#include "media/decoders/CodecCodes.h"
#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/CVNMutex.h"
#include "media/decoders/CVNPixelFormatDecoder.h"
#include "media/decoders/CVNVideoToolboxDecoder.h"
#include "tests/media/PacketSource.h"
#include "tests/support/CapturedDiagnostics.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace media {
namespace {

namespace pm = platform::media;
using testing::DescribedCodecReader;
using testing::DescribedReader;

enum class Expect { None, VideoToolbox, FFmpeg, PixelFormat };

Expect kindOf(const CVNDecoderProtocol* decoder) {
  if (!decoder) return Expect::None;
  if (dynamic_cast<const CVNVideoToolboxDecoder*>(decoder)) return Expect::VideoToolbox;
  if (dynamic_cast<const CVNFFmpegDecoder*>(decoder)) return Expect::FFmpeg;
  if (dynamic_cast<const CVNPixelFormatDecoder*>(decoder)) return Expect::PixelFormat;
  return Expect::None;
}

TEST(DecoderSelectionTest, CodeAssetTypeAndReaderClassChooseTheDecoder) {
  struct Row {
    const char* code;
    std::int32_t assetType;
    Expect withMovieReader;
    Expect withOtherReader;
  };
  const Row rows[] = {
      {"apch", kAssetTypeQuickTimeMovie, Expect::VideoToolbox, Expect::VideoToolbox},
      {"ap4x", kAssetTypeMXF, Expect::VideoToolbox, Expect::VideoToolbox},
      {"hvc1", kAssetTypeMKV, Expect::VideoToolbox, Expect::VideoToolbox},
      {"dvcp", kAssetTypeDV, Expect::VideoToolbox, Expect::VideoToolbox},
      {"avc1", kAssetTypeQuickTimeMovie, Expect::VideoToolbox, Expect::VideoToolbox},
      {"avc1", kAssetTypeMKV, Expect::FFmpeg, Expect::None},
      {"avc1", kAssetTypeMPEG2Movie, Expect::FFmpeg, Expect::None},
      {"mp2v", kAssetTypeMPEG2Movie, Expect::FFmpeg, Expect::None},
      {"mp2v", kAssetTypeMXF, Expect::VideoToolbox, Expect::VideoToolbox},
      {"mp4v", kAssetTypeQuickTimeMovie, Expect::FFmpeg, Expect::None},
      {"FFVH", kAssetTypeAVI, Expect::FFmpeg, Expect::None},
      {"jpeg", kAssetTypeImage, Expect::PixelFormat, Expect::PixelFormat},
      {"jpeg", kAssetTypeQuickTimeMovie, Expect::VideoToolbox, Expect::VideoToolbox},
      {"png ", kAssetTypeImage, Expect::PixelFormat, Expect::PixelFormat},
      {"v210", kAssetTypeQuickTimeMovie, Expect::PixelFormat, Expect::PixelFormat},
      {"AVdn", kAssetTypeMXF, Expect::FFmpeg, Expect::None},
      {"vp09", kAssetTypeMKV, Expect::FFmpeg, Expect::None},
      {"ai5q", kAssetTypeMXF, Expect::FFmpeg, Expect::None},
      {"dvhq", kAssetTypeMXF, Expect::FFmpeg, Expect::None},
      {"wxyz", kAssetTypeQuickTimeMovie, Expect::None, Expect::None},
  };
  AVCodecContext* context = avcodec_alloc_context3(nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.code) + " type " + std::to_string(row.assetType));
    const pm::FourCharCode code = codeOf(row.code);
    auto video = pm::FormatDescription::createVideo(code, {320, 240});
    DescribedCodecReader movieReader(video, row.assetType, context);
    DescribedReader otherReader(video, row.assetType);
    EXPECT_EQ(kindOf(CVNDecoder::copyDecoderForAsset(movieReader).get()), row.withMovieReader);
    EXPECT_EQ(kindOf(CVNDecoder::copyDecoderForAsset(otherReader).get()), row.withOtherReader);
  }
  // The 32-bit ARGB code is a number, not text.
  DescribedReader argb(pm::FormatDescription::createVideo(pm::kPixelFormat32ARGB, {8, 8}), kAssetTypeQuickTimeMovie);
  EXPECT_EQ(kindOf(CVNDecoder::copyDecoderForAsset(argb).get()), Expect::PixelFormat);
  // Audio only: no decoder.
  DescribedReader audioOnly(nullptr, kAssetTypeSound);
  EXPECT_EQ(CVNDecoder::copyDecoderForAsset(audioOnly), nullptr);
  avcodec_free_context(&context);
}

TEST(DecoderSelectionTest, MovieReaderHandsOverItsOneFieldPackets) {
  AVCodecContext* context = avcodec_alloc_context3(nullptr);
  DescribedCodecReader reader(pm::FormatDescription::createVideo(pm::fourCC("mp2v"), {720, 576}), kAssetTypeMPEG2Movie,
                              context, true);
  auto decoder = CVNDecoder::copyDecoderForAsset(reader);
  auto* ffmpeg = dynamic_cast<CVNFFmpegDecoder*>(decoder.get());
  ASSERT_NE(ffmpeg, nullptr);
  EXPECT_TRUE(ffmpeg->fieldBasedAVPacket());
  EXPECT_EQ(ffmpeg->framesNeededForPlayback(), 5);
  EXPECT_EQ(ffmpeg->sourceDescription(), "fixture");
  decoder.reset();
  avcodec_free_context(&context);
}

TEST(DecoderSelectionTest, PoolCacheAnswersOnePoolPerAttributesAndExplainsFailures) {
  pm::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = pm::kPixelFormat422YpCbCr8;
  attributes.width = 64;
  attributes.height = 32;
  auto first = CVNDecoder::pixelBufferPoolWithAttributes(attributes);
  auto second = CVNDecoder::pixelBufferPoolWithAttributes(attributes);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  attributes.height = 34;
  EXPECT_NE(CVNDecoder::pixelBufferPoolWithAttributes(attributes), first);

  attributes.width = 0;
  std::string error;
  EXPECT_EQ(CVNDecoder::pixelBufferPoolWithAttributes(attributes, &error), nullptr);
  EXPECT_EQ(error.rfind("Failed to create PixelBufferPool (error: -6681), using attributes: {", 0), 0u) << error;
  testing_support::CapturedDiagnostics diagnostics;
  EXPECT_EQ(CVNDecoder::pixelBufferPoolWithAttributes(attributes), nullptr);
  EXPECT_EQ(diagnostics.count("Failed to create PixelBufferPool (error: -6681)"), 1u);
}

// Decoders set up on several queues at once ask the cache together: each
// attributes set still gets one pool, and failures keep their own text.
TEST(DecoderSelectionTest, PoolCacheGivesOnePoolPerAttributesToConcurrentCallers) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  constexpr std::size_t kShapes = 6;
  constexpr std::size_t kFailingShape = kShapes - 1;
  auto attributesOf = [](std::size_t shape) {
    pm::PixelBufferPoolAttributes attributes;
    attributes.pixelFormat = pm::kPixelFormat422YpCbCr8;
    attributes.width = shape == kFailingShape ? 0 : 48;
    attributes.height = 20 + shape;
    return attributes;
  };
  std::latch start(kThreads);
  // Per thread: the pools it got for each shape, and its failure texts.
  std::vector<std::vector<std::set<pm::PixelBufferPool*>>> seen(kThreads, std::vector<std::set<pm::PixelBufferPool*>>(kShapes));
  std::vector<std::vector<std::string>> errors(kThreads);
  std::vector<std::shared_ptr<pm::PixelBufferPool>> keep;
  std::mutex keepMutex;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t step = 0; step < kShapes; ++step) {
          const std::size_t shape = (step + static_cast<std::size_t>(t)) % kShapes;  // different orders
          std::string error;
          auto pool = CVNDecoder::pixelBufferPoolWithAttributes(attributesOf(shape), &error);
          seen[t][shape].insert(pool.get());
          if (!error.empty()) errors[t].push_back(error);
          std::lock_guard lock(keepMutex);
          keep.push_back(std::move(pool));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<pm::PixelBufferPool*> distinct;
  for (std::size_t shape = 0; shape < kShapes; ++shape) {
    SCOPED_TRACE(shape);
    std::set<pm::PixelBufferPool*> pools;
    for (int t = 0; t < kThreads; ++t) pools.insert(seen[t][shape].begin(), seen[t][shape].end());
    ASSERT_EQ(pools.size(), 1u);
    EXPECT_EQ(*pools.begin() == nullptr, shape == kFailingShape);
    distinct.insert(*pools.begin());
  }
  EXPECT_EQ(distinct.size(), kShapes);
  for (const auto& texts : errors) {
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kRounds));
    for (const auto& text : texts) EXPECT_EQ(text.rfind("Failed to create PixelBufferPool (error: -6681), using attributes: {", 0), 0u) << text;
  }
}

TEST(CVNMutexTest, OnlyTheHolderReleasesAndTheFlagMeansHeld) {
  CVNMutex mutex;
  EXPECT_FALSE(mutex.isLocked());
  testing_support::CapturedDiagnostics diagnostics;
  EXPECT_FALSE(mutex.unlock());  // not held by anyone
  mutex.lock();
  EXPECT_TRUE(mutex.isLocked());
  bool otherReleased = true;
  std::thread([&] { otherReleased = mutex.unlock(); }).join();
  EXPECT_FALSE(otherReleased);
  EXPECT_TRUE(mutex.isLocked());

  // A waiter gets the lock only once the holder lets go, and holds it then.
  std::atomic<bool> waiterHeld{false};
  std::thread waiter([&] {
    mutex.lock();
    waiterHeld = mutex.isHeldByCurrentThread();
    mutex.unlock();
  });
  EXPECT_TRUE(mutex.isHeldByCurrentThread());
  EXPECT_TRUE(mutex.unlock());
  waiter.join();
  EXPECT_TRUE(waiterHeld);
  EXPECT_FALSE(mutex.isLocked());
  EXPECT_EQ(diagnostics.count("unlock refused"), 2u);
  EXPECT_EQ(&CVNMutex::sharedMutex(), &CVNMutex::sharedMutex());
}

TEST(CVNMutexTest, KeepsThreadsApart) {
  CVNMutex mutex;
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        CVNMutexHold hold(mutex);
        ++counter;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace media
