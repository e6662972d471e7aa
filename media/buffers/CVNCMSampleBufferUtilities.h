#pragma once
// Small operations on sample buffers: the first sample-attachment
// dictionary (read, set, copied between buffers), marking and recognising
// I, P and B frames, and H.264 frames from Annex-B form (start codes) into
// the length-prefixed form decoders take. Class operations; any thread on
// sample buffers the caller does not share while changing them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/media/SampleBuffer.h"
#include "platform/media/SampleBufferQueue.h"

namespace media {

enum FrameType : std::int32_t { kFrameTypeI = 0, kFrameTypeP = 1, kFrameTypeB = 2, kFrameTypeUnknown = 3 };

class CVNCMSampleBufferUtilities {
 public:
  using SampleBufferRef = platform::media::SampleBufferRef;

  // Creates the attachments when missing, then sets key → value in the first dictionary.
  static void setAttachmentObject(const platform::Value& value, const std::string& key, const SampleBufferRef& sample);
  // Never creates attachments.
  static void removeAttachmentForKey(const std::string& key, const SampleBufferRef& sample);
  static void setAttachments(const platform::Dictionary& attachments, const SampleBufferRef& sample);
  // None for no sample, no attachments or no such key.
  static platform::Value attachmentObjectForKey(const std::string& key, const SampleBufferRef& sample);
  static platform::Value attachmentNumberForKey(const std::string& key, const SampleBufferRef& sample);
  static platform::Value attachmentArrayForKey(const std::string& key, const SampleBufferRef& sample);
  static platform::Value attachmentObjectForKeyFromFirstSampleBufferInQueue(const std::string& key,
                                                                           const platform::media::SampleBufferQueue& queue);
  static platform::Value numberForKeyFromAttachementOfFirstSampleBufferInQueue(
      const std::string& key, const platform::media::SampleBufferQueue& queue);
  // Nothing when either is missing or both are the same buffer.
  static void copyAttachementForKey(const std::string& key, const SampleBufferRef& from, const SampleBufferRef& to);

  // I: DependsOnOthers false; P: NotSync and DependsOnOthers true; B: those
  // and IsDependedOnByOthers false. EarlierDisplayTimesAllowed false for all.
  static void appendAttachmentsIntoBuffer(const SampleBufferRef& sample, std::int32_t pictureCodingType);
  static std::int32_t frameTypeFromSampleBuffer(const SampleBufferRef& sample);
  // 0 "i", 1 "p", 2 "b", anything else "unknown".
  static std::string stringFromFrameType(std::int32_t frameType);

  // The frame in length-prefixed form, as a new buffer (the caller's bytes
  // are left alone). Start codes of 3 and 4 bytes are recognised. Parameter
  // sets that follow another unit are dropped; a frame of exactly 4 bytes
  // gives 4 zero bytes. Frames under 4 bytes, or with a unit too long for a
  // 32-bit length, are refused with an error text.
  static std::optional<std::vector<std::uint8_t>> convertAnnexBFrame(std::span<const std::uint8_t> frame,
                                                                     std::string* error);
  // A new sample of the converted frame with `format` and the sample's first
  // timing; none with the error text on failure.
  static SampleBufferRef avccSampleBufferFromAnnexBSampleBuffer(const SampleBufferRef& sample,
                                                              const platform::media::FormatDescriptionRef& format,
                                                              std::string* outErrorString);
};

// A copy of the sample with `offset` added to every valid presentation and
// decode time; the status of the first failing step.
platform::media::OSStatus CVNSampleBufferCreateCopyWithTimeOffset(const platform::media::SampleBufferRef& sample,
                                                                  platform::media::SampleBufferRef* copy,
                                                                  platform::media::MediaTime offset);

}  // namespace media
