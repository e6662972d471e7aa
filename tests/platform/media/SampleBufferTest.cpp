#include "platform/media/SampleBuffer.h"

#include <gtest/gtest.h>

#include "platform/media/SampleBufferQueue.h"

namespace platform::media {
namespace {

SampleBufferRef sampleAt(std::int64_t frame, std::int64_t duration = 1) {
  auto block = BlockBuffer::create(16);
  SampleBufferRef sample;
  EXPECT_EQ(SampleBuffer::createReady(block, FormatDescription::createVideo(fourCC("avc1"), {1920, 1080}), 1,
                                      {{MediaTime::make(duration, 25), MediaTime::make(frame, 25), MediaTime::invalid()}},
                                      {16}, &sample),
            kSampleBufferNoError);
  return sample;
}

TEST(SampleBufferTest, ChecksEntryCountsAndSizes) {
  auto block = BlockBuffer::create(100);
  auto format = FormatDescription::create(kMediaTypeClosedCaption, fourCC("c608"));
  SampleBufferRef sample;
  EXPECT_EQ(SampleBuffer::createReady(nullptr, format, 1, {}, {}, &sample), kSampleBufferErrorRequiredParameterMissing);
  EXPECT_EQ(SampleBuffer::createReady(block, format, 3, std::vector<SampleTimingInfo>(2), {}, &sample),
            kSampleBufferErrorInvalidEntryCount);
  EXPECT_EQ(SampleBuffer::createReady(block, format, 3, {}, {40, 40, 40}, &sample), kSampleBufferErrorInvalidSampleData);
  EXPECT_EQ(SampleBuffer::createReady(block, format, 3, {}, {30}, &sample), kSampleBufferNoError);
  EXPECT_EQ(sample->totalSampleSize(), 90u);
  EXPECT_EQ(sample->sampleSize(2), 30u);
  SampleTimingInfo timing;
  EXPECT_EQ(sample->sampleTimingInfo(0, &timing), kSampleBufferErrorBufferHasNoSampleTimingInfo);
  EXPECT_FALSE(sample->duration().isValid());
  AudioStreamPacketDescription outside{90, 0, 20};
  EXPECT_EQ(SampleBuffer::createReady(block, format, 1, {}, {}, &sample, {outside}), kSampleBufferErrorInvalidSampleData);

  EXPECT_EQ(BlockBuffer::createReferencing(block, 90, 11), nullptr);
  auto tail = BlockBuffer::createReferencing(block, 90, 10);
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail->data(), block->data() + 90);
}

TEST(SampleBufferTest, AttachmentsAndCopiesWithNewTiming) {
  SampleBufferRef sample = sampleAt(10);
  EXPECT_FALSE(sample->hasSampleAttachments());
  EXPECT_FALSE(sample->setSampleAttachment(0, kSampleAttachmentKeyNotSync, true));
  sample->createSampleAttachmentsIfNeeded();
  EXPECT_TRUE(sample->setSampleAttachment(0, kSampleAttachmentKeyNotSync, true));
  sample->setAttachment("a53CCData", platform::Data{1, 2});
  SampleBufferRef moved;
  ASSERT_EQ(sample->createCopyWithNewTiming({{MediaTime::make(1, 25), MediaTime::make(20, 25), MediaTime::invalid()}},
                                            &moved),
            kSampleBufferNoError);
  EXPECT_EQ(moved->presentationTimeStamp(), MediaTime::make(20, 25));
  EXPECT_EQ(sample->presentationTimeStamp(), MediaTime::make(10, 25));
  EXPECT_EQ(moved->dataBuffer(), sample->dataBuffer());
  EXPECT_TRUE(moved->sampleAttachment(0, kSampleAttachmentKeyNotSync).booleanOr(false));
  EXPECT_EQ(moved->attachment("a53CCData"), platform::Value(platform::Data{1, 2}));
}

TEST(SampleBufferQueueTest, OrdersBoundsAndTriggers) {
  SampleBufferQueue queue(3, SampleBufferQueue::Order::OutputPresentationTime);
  int triggered = 0;
  queue.setCountAboveTrigger(1, [&] { ++triggered; });
  ASSERT_EQ(queue.enqueue(sampleAt(30)), kSampleBufferNoError);
  EXPECT_EQ(triggered, 0);
  ASSERT_EQ(queue.enqueue(sampleAt(10, 2)), kSampleBufferNoError);
  ASSERT_EQ(queue.enqueue(sampleAt(20)), kSampleBufferNoError);
  EXPECT_EQ(triggered, 2);
  EXPECT_EQ(queue.enqueue(sampleAt(40)), kSampleBufferQueueErrorQueueIsFull);
  EXPECT_EQ(queue.enqueue(nullptr), kSampleBufferErrorRequiredParameterMissing);
  EXPECT_EQ(queue.totalDuration(), MediaTime::make(4, 25));
  EXPECT_EQ(queue.dequeue()->presentationTimeStamp(), MediaTime::make(10, 25));
  EXPECT_EQ(queue.head()->presentationTimeStamp(), MediaTime::make(20, 25));
  EXPECT_EQ(queue.totalDuration(), MediaTime::make(2, 25));
  ASSERT_EQ(queue.enqueue(sampleAt(40)), kSampleBufferNoError);
  EXPECT_EQ(queue.totalDuration(), MediaTime::make(3, 25));
  queue.reset();
  EXPECT_TRUE(queue.isEmpty());
  EXPECT_EQ(queue.totalDuration(), MediaTime::zero());

  SampleBufferQueue arrival(2, SampleBufferQueue::Order::Arrival);
  arrival.enqueue(sampleAt(30));
  arrival.enqueue(sampleAt(10));
  EXPECT_EQ(arrival.dequeue()->presentationTimeStamp(), MediaTime::make(30, 25));
}

}  // namespace
}  // namespace platform::media
