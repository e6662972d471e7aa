#include <gtest/gtest.h>

#include "media/buffers/CVNBufferArray.h"
#include "media/buffers/CVNCMSampleBufferUtilities.h"

namespace media {
namespace {

using namespace platform::media;
using Bytes = std::vector<std::uint8_t>;

SampleBufferRef sample(std::int64_t frame, Bytes bytes = Bytes(8)) {
  SampleBufferRef made;
  SampleBuffer::createReady(BlockBuffer::createWithCopy(bytes), FormatDescription::createVideo(fourCC("avc1"), {64, 48}),
                            1, {{MediaTime::make(1, 25), MediaTime::make(frame, 25), MediaTime::make(frame - 1, 25)}},
                            {bytes.size()}, &made);
  return made;
}

TEST(CVNBufferArrayTest, HoldsTwiceAndRemovesFirst) {
  CVNBufferArray array;
  auto a = sample(0), b = sample(1);
  array.addSampleBuffer(a);
  array.addSampleBuffer(a);
  array.addSampleBuffer(b);
  array.addSampleBuffer(nullptr);
  EXPECT_EQ(array.count(), 3u);
  EXPECT_EQ(array.duration(), MediaTime::make(3, 25));
  array.removeSampleBuffer(a);
  EXPECT_EQ(array.count(), 2u);
  EXPECT_EQ(array.duration(), MediaTime::make(2, 25));
  array.removeSampleBuffer(sample(5));  // not held
  EXPECT_EQ(array.count(), 2u);
  array.addSampleBuffer(sample(2));
  array.addSampleBuffer(sample(3));
  array.removeAllSampleBuffers();
  EXPECT_EQ(array.count(), 0u);
  EXPECT_EQ(array.duration(), MediaTime::zero());
}

TEST(CVNCMSampleBufferUtilitiesTest, AttachmentsAndFrameTypes) {
  using U = CVNCMSampleBufferUtilities;
  auto s = sample(0);
  EXPECT_TRUE(U::attachmentObjectForKey("k", s).isNone());
  U::removeAttachmentForKey("k", s);
  EXPECT_FALSE(s->hasSampleAttachments());
  EXPECT_EQ(U::frameTypeFromSampleBuffer(s), kFrameTypeI);  // no attachments: I
  U::setAttachments({{"k", 5}, {"list", platform::Array{1}}}, s);
  EXPECT_EQ(U::attachmentNumberForKey("k", s), platform::Value(5));
  EXPECT_TRUE(U::attachmentArrayForKey("k", s).isNone());
  EXPECT_FALSE(U::attachmentArrayForKey("list", s).isNone());
  EXPECT_TRUE(U::attachmentObjectForKey("k", nullptr).isNone());
  auto other = sample(1);
  U::copyAttachementForKey("k", s, other);
  EXPECT_EQ(U::attachmentObjectForKey("k", other), platform::Value(5));
  SampleBufferQueue queue(2, SampleBufferQueue::Order::Arrival);
  queue.enqueue(other);
  EXPECT_EQ(U::numberForKeyFromAttachementOfFirstSampleBufferInQueue("k", queue), platform::Value(5));

  for (std::int32_t type : {0, 1, 2, 7}) {
    auto marked = sample(0);
    U::appendAttachmentsIntoBuffer(marked, type);
    EXPECT_EQ(U::frameTypeFromSampleBuffer(marked), type == 7 ? kFrameTypeB : type) << type;
  }
  auto unknown = sample(0);
  U::setAttachmentObject(true, kSampleAttachmentKeyDependsOnOthers, unknown);
  EXPECT_EQ(U::frameTypeFromSampleBuffer(unknown), kFrameTypeUnknown);
  U::setAttachmentObject(true, kSampleAttachmentKeyNotSync, unknown);
  U::setAttachmentObject(true, kSampleAttachmentKeyPartialSync, unknown);
  EXPECT_EQ(U::frameTypeFromSampleBuffer(unknown), kFrameTypeI);
  EXPECT_EQ(U::stringFromFrameType(0), "i");
  EXPECT_EQ(U::stringFromFrameType(2), "b");
  EXPECT_EQ(U::stringFromFrameType(3), "unknown");
}

Bytes unit(std::uint8_t header, std::size_t bodySize, bool fourByteStart) {
  Bytes out = fourByteStart ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1};
  out.push_back(header);
  for (std::size_t i = 0; i < bodySize; ++i) out.push_back(static_cast<std::uint8_t>(0x40 + i));
  return out;
}

Bytes prefixed(std::uint8_t header, std::size_t bodySize) {
  Bytes out = {0, 0, 0, static_cast<std::uint8_t>(bodySize + 1), header};
  for (std::size_t i = 0; i < bodySize; ++i) out.push_back(static_cast<std::uint8_t>(0x40 + i));
  return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(CVNCMSampleBufferUtilitiesTest, AnnexBToLengthPrefixes) {
  constexpr std::uint8_t kSPS = 0x67, kPPS = 0x68, kIDR = 0x65, kAUD = 0x09;
  for (bool four : {true, false}) {
    SCOPED_TRACE(four ? "4-byte start codes" : "3-byte start codes");
    struct Case {
      const char* what;
      Bytes frame;
      Bytes expected;
    } cases[] = {
        {"SPS PPS IDR", join({unit(kSPS, 5, four), unit(kPPS, 2, four), unit(kIDR, 9, four)}),
         join({prefixed(kSPS, 5), prefixed(kPPS, 2), prefixed(kIDR, 9)})},
        {"AUD SPS PPS IDR", join({unit(kAUD, 1, four), unit(kSPS, 5, four), unit(kPPS, 2, four), unit(kIDR, 9, four)}),
         join({prefixed(kAUD, 1), prefixed(kIDR, 9)})},
        {"mixed start codes", join({unit(kAUD, 1, !four), unit(kIDR, 9, four), unit(0x41, 3, !four)}),
         join({prefixed(kAUD, 1), prefixed(kIDR, 9), prefixed(0x41, 3)})},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      std::string error;
      auto converted = CVNCMSampleBufferUtilities::convertAnnexBFrame(c.frame, &error);
      ASSERT_TRUE(converted) << error;
      EXPECT_EQ(*converted, c.expected);
    }
  }
  std::string error;
  EXPECT_EQ(CVNCMSampleBufferUtilities::convertAnnexBFrame(Bytes{0, 0, 0, 1}, &error), Bytes(4, 0));
  EXPECT_FALSE(CVNCMSampleBufferUtilities::convertAnnexBFrame(Bytes{0, 0, 1}, &error));
  EXPECT_EQ(error, "Annex-B frame shorter than 4 bytes");

  // The sample form: a new block, the caller's bytes untouched.
  const Bytes frame = join({unit(kAUD, 1, true), unit(kSPS, 5, true), unit(kPPS, 2, true), unit(kIDR, 9, true)});
  auto annexB = sample(4, frame);
  auto avcc = CVNCMSampleBufferUtilities::avccSampleBufferFromAnnexBSampleBuffer(annexB, annexB->formatDescription(), &error);
  ASSERT_NE(avcc, nullptr);
  EXPECT_EQ(Bytes(annexB->dataBuffer()->bytes().begin(), annexB->dataBuffer()->bytes().end()), frame);
  EXPECT_EQ(avcc->totalSampleSize(), prefixed(kAUD, 1).size() + prefixed(kIDR, 9).size());
  EXPECT_EQ(avcc->presentationTimeStamp(), MediaTime::make(4, 25));

  SampleBufferRef moved;
  ASSERT_EQ(CVNSampleBufferCreateCopyWithTimeOffset(annexB, &moved, MediaTime::make(10, 25)), kSampleBufferNoError);
  EXPECT_EQ(moved->presentationTimeStamp(), MediaTime::make(14, 25));
  EXPECT_EQ(moved->decodeTimeStamp(), MediaTime::make(13, 25));
}

}  // namespace
}  // namespace media
