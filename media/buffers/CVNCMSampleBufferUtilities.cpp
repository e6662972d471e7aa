#include "media/buffers/CVNCMSampleBufferUtilities.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace media {

using namespace platform::media;

void CVNCMSampleBufferUtilities::setAttachmentObject(const platform::Value& value, const std::string& key,
                                                     const SampleBufferRef& sample) {
  if (!sample) return;
  sample->createSampleAttachmentsIfNeeded();
  sample->setSampleAttachment(0, key, value);
}

void CVNCMSampleBufferUtilities::removeAttachmentForKey(const std::string& key, const SampleBufferRef& sample) {
  if (sample) sample->removeSampleAttachment(0, key);
}

void CVNCMSampleBufferUtilities::setAttachments(const platform::Dictionary& attachments, const SampleBufferRef& sample) {
  for (const auto& [key, value] : attachments) setAttachmentObject(value, key, sample);
}

platform::Value CVNCMSampleBufferUtilities::attachmentObjectForKey(const std::string& key, const SampleBufferRef& sample) {
  return sample ? sample->sampleAttachment(0, key) : platform::Value();
}

platform::Value CVNCMSampleBufferUtilities::attachmentNumberForKey(const std::string& key, const SampleBufferRef& sample) {
  platform::Value value = attachmentObjectForKey(key, sample);
  return value.isNumber() || value.isBoolean() ? value : platform::Value();
}

platform::Value CVNCMSampleBufferUtilities::attachmentArrayForKey(const std::string& key, const SampleBufferRef& sample) {
  platform::Value value = attachmentObjectForKey(key, sample);
  return value.isArray() ? value : platform::Value();
}

platform::Value CVNCMSampleBufferUtilities::attachmentObjectForKeyFromFirstSampleBufferInQueue(
    const std::string& key, const SampleBufferQueue& queue) {
  return attachmentObjectForKey(key, queue.head());
}

platform::Value CVNCMSampleBufferUtilities::numberForKeyFromAttachementOfFirstSampleBufferInQueue(
    const std::string& key, const SampleBufferQueue& queue) {
  return attachmentNumberForKey(key, queue.head());
}

void CVNCMSampleBufferUtilities::copyAttachementForKey(const std::string& key, const SampleBufferRef& from,
                                                       const SampleBufferRef& to) {
  if (!from || !to || from == to) return;
  platform::Value value = attachmentObjectForKey(key, from);
  if (!value.isNone()) setAttachmentObject(value, key, to);
}

void CVNCMSampleBufferUtilities::appendAttachmentsIntoBuffer(const SampleBufferRef& sample,
                                                             std::int32_t pictureCodingType) {
  if (!sample) return;
  sample->createSampleAttachmentsIfNeeded();
  if (pictureCodingType != kFrameTypeI) sample->setSampleAttachment(0, kSampleAttachmentKeyNotSync, true);
  sample->setSampleAttachment(0, kSampleAttachmentKeyDependsOnOthers, pictureCodingType != kFrameTypeI);
  sample->setSampleAttachment(0, kSampleAttachmentKeyEarlierDisplayTimesAllowed, false);
  if (pictureCodingType != kFrameTypeI && pictureCodingType != kFrameTypeP) {
    sample->setSampleAttachment(0, kSampleAttachmentKeyIsDependedOnByOthers, false);
  }
}

std::int32_t CVNCMSampleBufferUtilities::frameTypeFromSampleBuffer(const SampleBufferRef& sample) {
  if (!sample) return kFrameTypeI;
  sample->createSampleAttachmentsIfNeeded();
  if (!sample->sampleAttachment(0, kSampleAttachmentKeyDependsOnOthers).booleanOr(false)) return kFrameTypeI;
  if (sample->sampleAttachment(0, kSampleAttachmentKeyNotSync).isNone()) return kFrameTypeUnknown;
  if (!sample->sampleAttachment(0, kSampleAttachmentKeyPartialSync).isNone()) return kFrameTypeI;
  const platform::Value dependedOn = sample->sampleAttachment(0, kSampleAttachmentKeyIsDependedOnByOthers);
  if (dependedOn.isNone()) return kFrameTypeP;
  return dependedOn.booleanOr(false) ? kFrameTypeP : kFrameTypeB;
}

std::string CVNCMSampleBufferUtilities::stringFromFrameType(std::int32_t frameType) {
  switch (frameType) {
    case kFrameTypeI: return "i";
    case kFrameTypeP: return "p";
    case kFrameTypeB: return "b";
    default: return "unknown";
  }
}

namespace {

struct Unit {
  std::size_t begin;  // first byte after the start code
  std::size_t end;    // one past the last byte before the next start code
  std::uint8_t type;
};

// The units after every 00 00 01; a zero before a start code belongs to it
// (4-byte start codes), and trailing zeros are not part of a unit.
std::vector<Unit> annexBUnits(std::span<const std::uint8_t> frame) {
  std::vector<std::size_t> codes;
  // Look for the 01 of each start code with memchr, then check the two zeros before it.
  const std::uint8_t* data = frame.data();
  std::size_t from = 2;
  while (from < frame.size()) {
    const void* found = std::memchr(data + from, 1, frame.size() - from);
    if (!found) break;
    const std::size_t one = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
    if (data[one - 1] == 0 && data[one - 2] == 0) codes.push_back(one - 2);
    from = one + 3;
  }
  std::vector<Unit> units;
  for (std::size_t k = 0; k < codes.size(); ++k) {
    const std::size_t begin = codes[k] + 3;
    std::size_t end = k + 1 < codes.size() ? codes[k + 1] : frame.size();
    while (end > begin && frame[end - 1] == 0) --end;
    units.push_back({begin, end, static_cast<std::uint8_t>(begin < frame.size() ? frame[begin] & 0x1f : 0)});
  }
  return units;
}

bool appendUnit(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes, std::string* error) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    if (error) *error = "Annex-B unit too long for a 32-bit length";
    return false;
  }
  const auto length = static_cast<std::uint32_t>(bytes.size());
  out.insert(out.end(), {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                         static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
  out.insert(out.end(), bytes.begin(), bytes.end());
  return true;
}

constexpr std::uint8_t kSPS = 7;
constexpr std::uint8_t kPPS = 8;

}  // namespace

std::optional<std::vector<std::uint8_t>> CVNCMSampleBufferUtilities::convertAnnexBFrame(std::span<const std::uint8_t> frame,
                                                                                        std::string* error) {
  if (frame.size() < 4) {
    if (error) *error = "Annex-B frame shorter than 4 bytes";
    return std::nullopt;
  }
  if (frame.size() == 4) return std::vector<std::uint8_t>(4, 0);
  const std::vector<Unit> units = annexBUnits(frame);
  if (units.empty()) {
    if (error) *error = "Annex-B frame without a start code";
    return std::nullopt;
  }
  std::vector<std::uint8_t> out;
  out.reserve(frame.size() + 4 * units.size());
  // Parameter sets that follow another unit are dropped once a unit of
  // another kind follows them; a set at the very start of the frame is kept.
  std::size_t pendingFrom = units.size();  // first held parameter set, if any
  for (std::size_t k = 0; k < units.size(); ++k) {
    const Unit& unit = units[k];
    if (pendingFrom < units.size()) {
      if (unit.type == kPPS) continue;
      pendingFrom = units.size();  // the held sets are dropped
    } else if (k > 0 && unit.type == kSPS) {
      pendingFrom = k;
      continue;
    }
    if (!appendUnit(out, frame.subspan(unit.begin, unit.end - unit.begin), error)) return std::nullopt;
  }
  // Parameter sets at the very end stay, as one unit from the first of them.
  if (pendingFrom < units.size()) {
    const Unit& first = units[pendingFrom];
    if (!appendUnit(out, frame.subspan(first.begin, units.back().end - first.begin), error)) return std::nullopt;
  }
  return out;
}

SampleBufferRef CVNCMSampleBufferUtilities::avccSampleBufferFromAnnexBSampleBuffer(const SampleBufferRef& sample,
                                                                                 const FormatDescriptionRef& format,
                                                                                 std::string* outErrorString) {
  auto fail = [&](const char* text, int status) -> SampleBufferRef {
    if (outErrorString) {
      char message[128];
      std::snprintf(message, sizeof message, text, status);
      *outErrorString = message;
    }
    return nullptr;
  };
  if (!sample || !sample->dataBuffer()) return fail("Failed to get data pointer %i", kSampleBufferErrorRequiredParameterMissing);
  std::string conversionError;
  auto converted = convertAnnexBFrame(sample->dataBuffer()->bytes(), &conversionError);
  if (!converted) {
    if (outErrorString) *outErrorString = conversionError;
    return nullptr;
  }
  SampleTimingInfo timing;
  const OSStatus timingStatus = sample->sampleTimingInfo(0, &timing);
  if (timingStatus != kSampleBufferNoError) return fail("Failed to get SampleBuffer Timing %i", timingStatus);
  const std::size_t size = converted->size();
  SampleBufferRef avcc;
  const OSStatus status = SampleBuffer::createReady(BlockBuffer::createWithCopy(*converted), format, 1, {timing}, {size}, &avcc);
  if (status != kSampleBufferNoError) {
    return fail("Failed to create AVCC SampleBuffer from Annex-B SampleBuffer %i", status);
  }
  return avcc;
}

OSStatus CVNSampleBufferCreateCopyWithTimeOffset(const SampleBufferRef& sample, SampleBufferRef* copy, MediaTime offset) {
  if (!sample || !copy) return kSampleBufferErrorRequiredParameterMissing;
  std::vector<SampleTimingInfo> timing = sample->sampleTimingInfoArray();
  if (timing.empty()) return kSampleBufferErrorBufferHasNoSampleTimingInfo;
  for (auto& entry : timing) {
    if (entry.presentationTimeStamp.isValid()) entry.presentationTimeStamp = add(entry.presentationTimeStamp, offset);
    if (entry.decodeTimeStamp.isValid()) entry.decodeTimeStamp = add(entry.decodeTimeStamp, offset);
  }
  return sample->createCopyWithNewTiming(std::move(timing), copy);
}

}  // namespace media
