#include "media/decoders/CVNDecoder.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <tuple>

#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/CVNPixelFormatDecoder.h"
#include "media/decoders/CVNVideoToolboxDecoder.h"
#include "media/decoders/FFmpegCodecSource.h"
#include "media/readers/CVNAssetReader.h"
#include "media/decoders/CodecCodes.h"
#include "platform/Diagnostics.h"

namespace media {
namespace {

namespace pm = platform::media;
using pm::fourCC;
using pm::FourCharCode;

enum class Choice { None, VideoToolbox, FFmpeg, PixelFormat, MovieReaderOnly };

Choice choose(FourCharCode code, std::int32_t assetType) {
  if (isOneOf(code, {"apch", "apcn", "apco", "apcs", "ap4h", "ap4x", "hvc1", "h263", "mp1v", "cvid", "rle ", "SVQ1",
                   "SVQ3", "dvc ", "dvcp", "dvpp", "dv5n", "dv5p", "dmb1"})) {
    return Choice::VideoToolbox;
  }
  if (code == fourCC("avc1")) return assetType == kAssetTypeQuickTimeMovie ? Choice::VideoToolbox : Choice::MovieReaderOnly;
  if (code == fourCC("mp2v")) return assetType == kAssetTypeMPEG2Movie ? Choice::FFmpeg : Choice::VideoToolbox;
  if (isOneOf(code, {"mp4v", "FFVH"})) return Choice::FFmpeg;
  if (code == fourCC("jpeg")) return assetType == kAssetTypeImage ? Choice::PixelFormat : Choice::VideoToolbox;
  if (code == pm::kPixelFormat32ARGB || isOneOf(code, {"png ", "tiff", "gif ", "bmp ", "img ", "2vuy", "v210"})) {
    return Choice::PixelFormat;
  }
  if (isOneOf(code, {"AVdn", "AVdh", "AVj2", "SHQ2", "vp09", "ai12", "ai13", "ai15", "ai16", "ai1p", "ai1q", "ai22",
                   "ai23", "ai25", "ai26", "ai2p", "ai2q", "ai52", "ai53", "ai55", "ai56", "ai5p", "ai5q", "dvh2",
                   "dvh3", "dvh5", "dvh6", "dvhp", "dvhq"})) {
    return Choice::MovieReaderOnly;
  }
  return Choice::None;
}

using PoolKey = std::tuple<FourCharCode, std::size_t, std::size_t, std::size_t, std::size_t, std::optional<std::size_t>, bool>;

PoolKey keyOf(const pm::PixelBufferPoolAttributes& a) {
  return {a.pixelFormat, a.width, a.height, a.bytesPerRowAlignment, a.minimumBufferCount, a.maximumBufferCount, a.shareable};
}

struct PoolCache {
  std::mutex mutex;
  std::map<PoolKey, std::shared_ptr<pm::PixelBufferPool>> pools;  // guarded by mutex
};

PoolCache& poolCache() {
  static PoolCache* const cache = new PoolCache();  // process-wide, used until exit
  return *cache;
}

}  // namespace

std::unique_ptr<CVNDecoderProtocol> CVNDecoder::copyDecoderForAsset(const CVNAssetReader& reader) {
  const pm::FormatDescriptionRef& video = reader.videoFormatDescription();
  if (!video) return nullptr;
  const auto* source = dynamic_cast<const FFmpegCodecSource*>(&reader);
  Choice choice = choose(video->mediaSubType(), reader.assetType());
  if (choice == Choice::MovieReaderOnly) choice = source ? Choice::FFmpeg : Choice::None;
  const std::optional<std::string> description =
      reader.sourceDescription().empty() ? std::nullopt : std::optional<std::string>(reader.sourceDescription());
  switch (choice) {
    case Choice::VideoToolbox:
      return std::make_unique<CVNVideoToolboxDecoder>(video, description);
    case Choice::PixelFormat:
      return std::make_unique<CVNPixelFormatDecoder>(video, description);
    case Choice::FFmpeg: {
      // Rows that make an FFmpeg decoder whatever the reader: without a codec
      // context of its own there is nothing to decode with.
      if (!source) return nullptr;
      auto decoder = std::make_unique<CVNFFmpegDecoder>(source->codecContext(), source->videoStreamTimeBase(), false,
                                                        description);
      decoder->setFieldBasedAVPacket(source->fieldBasedAVPacket());
      return decoder;
    }
    case Choice::None:
    case Choice::MovieReaderOnly:
      break;
  }
  return nullptr;
}

std::string CVNDecoder::describeAttributes(const pm::PixelBufferPoolAttributes& a) {
  char text[200];
  std::snprintf(text, sizeof text, "{PixelFormatType = %s; Width = %zu; Height = %zu; MinimumBufferCount = %zu; Shareable = %d}",
                pm::fourCCString(a.pixelFormat).c_str(), a.width, a.height, a.minimumBufferCount, a.shareable ? 1 : 0);
  return text;
}

std::shared_ptr<pm::PixelBufferPool> CVNDecoder::pixelBufferPoolWithAttributes(const pm::PixelBufferPoolAttributes& attributes,
                                                                              std::string* error) {
  PoolCache& cache = poolCache();
  std::lock_guard guard(cache.mutex);
  const PoolKey key = keyOf(attributes);
  if (auto found = cache.pools.find(key); found != cache.pools.end()) return found->second;
  std::shared_ptr<pm::PixelBufferPool> pool;
  const pm::CVReturn status = pm::PixelBufferPool::create(attributes, &pool);
  if (status != pm::kCVReturnSuccess) {
    char text[320];
    std::snprintf(text, sizeof text, "Failed to create PixelBufferPool (error: %i), using attributes: %s", status,
                  describeAttributes(attributes).c_str());
    if (error) {
      *error = text;
    } else {
      platform::reportDiagnostic(platform::DiagnosticLevel::Error, text);
    }
    return nullptr;
  }
  cache.pools.emplace(key, pool);
  return pool;
}

}  // namespace media
