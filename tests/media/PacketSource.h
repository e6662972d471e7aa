#pragma once
// Test helper standing in for the movie reader: opens a file with
// libavformat and hands out its first video stream's codec context, time
// base, a format description (subtype from the codec, "avcC"/"hvcC" atoms
// from the extradata) and one sample buffer per packet, in file order.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "media/decoders/FFmpegCodecSource.h"
#include "media/readers/CVNAssetReader.h"
#include "platform/media/SampleBuffer.h"

struct AVCodecContext;

namespace media::testing {

class PacketSource {
 public:
  // `subtype` 0: the codec's usual code. `extensions` are added to the description.
  explicit PacketSource(const std::filesystem::path& path, platform::media::FourCharCode subtype = 0,
                        platform::Dictionary extensions = {});
  ~PacketSource();
  PacketSource(const PacketSource&) = delete;
  PacketSource& operator=(const PacketSource&) = delete;

  bool ok() const { return context_ != nullptr; }
  AVCodecContext* codecContext() const { return context_; }
  TimeBase timeBase() const { return timeBase_; }
  const platform::media::FormatDescriptionRef& description() const { return description_; }
  const std::vector<platform::media::SampleBufferRef>& samples() const { return samples_; }

 private:
  AVCodecContext* context_ = nullptr;
  TimeBase timeBase_;
  platform::media::FormatDescriptionRef description_;
  std::vector<platform::media::SampleBufferRef> samples_;
};

// A reader with a video description and an asset type, and nothing else.
class DescribedReader : public CVNAssetReader {
 public:
  DescribedReader(platform::media::FormatDescriptionRef video, std::int32_t assetType);
};

// The same, offering a codec context as the movie reader does.
class DescribedCodecReader : public DescribedReader, public FFmpegCodecSource {
 public:
  DescribedCodecReader(platform::media::FormatDescriptionRef video, std::int32_t assetType, AVCodecContext* context,
                       bool fieldBased = false);
  AVCodecContext* codecContext() const override { return context_; }
  TimeBase videoStreamTimeBase() const override { return {1, 25}; }
  bool fieldBasedAVPacket() const override { return fieldBased_; }

 private:
  AVCodecContext* context_;
  bool fieldBased_;
};

// framemd5 hashes of `ffmpeg -i file <arguments> -f framemd5 -`, in output order.
std::vector<std::string> ffmpegFrameHashes(const std::filesystem::path& file, const std::string& arguments);
// The hash of a packed picture's rows (without row padding) or of a
// bi-planar picture's two planes, as framemd5 would hash the same layout.
std::string pictureHash(const platform::media::PixelBuffer& buffer);

}  // namespace media::testing
