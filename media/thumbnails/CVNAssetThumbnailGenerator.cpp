#include "media/thumbnails/CVNAssetThumbnailGenerator.h"

#include <filesystem>
#include <string>
#include <utility>

#include "foundation/imaging/CGImageUtil.h"
#include "media/decoders/CVNDecoder.h"
#include "media/readers/CVNAssetReader.h"
#include "media/readers/audio/CVNAudioAssetReader.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/FourCharCode.h"

namespace media {

namespace pm = platform::media;

namespace {

// Decoders may hold frames back; past this many samples without a picture
// the file is taken as undecodable here.
constexpr int kMaximumVideoSamples = 25;
// The encoder's own default quality.
constexpr double kJPEGQuality = 0.75;

std::string sourceDescriptionFor(const MediaURL& url) {
  const std::filesystem::path path = url.isFileURL() ? url.path() : std::filesystem::path(url.absoluteString());
  return "Thumbnail Generator - Clip '" + path.stem().string() + "'";
}

bool isVideo(const pm::SampleBufferRef& sample) {
  const auto& format = sample->formatDescription();
  return format && format->mediaType() == pm::kMediaTypeVideo;
}

// Reads up to the first video sample; nullptr when the reader runs out.
pm::SampleBufferRef nextVideoSample(CVNAssetReader& reader) {
  std::int32_t track = 0;
  while (auto sample = reader.nextSampleBufferForTrackIndex(&track)) {
    if (isVideo(sample)) return sample;
  }
  return nullptr;
}

// Premultiplied or opaque pixels encoded without their alpha are the picture
// drawn over black.
ThumbnailDataRef jpegOf(const std::shared_ptr<pm::PixelBuffer>& picture) {
  const foundation::Size size{static_cast<double>(picture->width()), static_cast<double>(picture->height())};
  auto bytes = foundation::CGImageUtil::bitmapImageDataForImage(picture, size, kJPEGQuality, nullptr);
  if (bytes.empty()) return nullptr;
  return ThumbnailData::withBytes(std::move(bytes));
}

}  // namespace

std::shared_ptr<CVNAssetThumbnailGenerator> CVNAssetThumbnailGenerator::createWithMediaURL(const MediaURL& url,
                                                                                          DecoderFactory makeDecoder) {
  return std::shared_ptr<CVNAssetThumbnailGenerator>(new CVNAssetThumbnailGenerator(url, std::move(makeDecoder)));
}

CVNAssetThumbnailGenerator::CVNAssetThumbnailGenerator(const MediaURL& url, DecoderFactory makeDecoder)
    : url_(url),
      makeDecoder_(makeDecoder ? std::move(makeDecoder) : DecoderFactory(&CVNDecoder::copyDecoderForAsset)),
      asset_(CVNAssetReader::assetReaderWithMediaURL(url, sourceDescriptionFor(url))),
      thumbnailGenerationQueue_(std::make_unique<platform::SerialQueue>("com.dirarovazovo.thumbnailGenerationQueue")) {}

CVNAssetThumbnailGenerator::~CVNAssetThumbnailGenerator() = default;

std::shared_ptr<pm::PixelBuffer> CVNAssetThumbnailGenerator::thumbnailPixelBuffer() const {
  std::lock_guard guard(pictureMutex_);
  return thumbnailPixelBuffer_;
}

void CVNAssetThumbnailGenerator::setThumbnailPixelBuffer(std::shared_ptr<pm::PixelBuffer> picture) {
  std::shared_ptr<pm::PixelBuffer> previous;
  {
    std::lock_guard guard(pictureMutex_);
    previous = std::exchange(thumbnailPixelBuffer_, std::move(picture));
  }
  // `previous` is released here, outside the lock.
}

std::shared_ptr<CVNAssetReader> CVNAssetThumbnailGenerator::readerForRequest() {
  // A reader reads forwards once (a still hands out its one picture once), so a
  // later request on the same reader would start where the last one stopped.
  if (!asset_ || !assetUsed_.exchange(true)) return asset_;
  return CVNAssetReader::assetReaderWithMediaURL(url_, sourceDescriptionFor(url_));
}

void CVNAssetThumbnailGenerator::thumbnailWithDimensions(std::int64_t width, std::int64_t height, double seconds,
                                                         bool /*precisely*/, std::uint32_t format,
                                                         ThumbnailHandler completionHandler) {
  auto reader = readerForRequest();
  if (!reader) {
    if (completionHandler) completionHandler(nullptr, 0);
    return;
  }
  auto self = shared_from_this();
  reader->loadInfoWithMetadata(false, true, [self, reader, width, height, seconds, format, completionHandler] {
    auto work = [self, reader, width, height, seconds, format, completionHandler] {
      const auto result = self->thumbnail(*reader, width, height, seconds, format);
      if (completionHandler) completionHandler(result.data, result.bytesPerRow);
    };
    // A full queue still answers, so no request is left without its one call.
    if (!self->thumbnailGenerationQueue_->async(work) && completionHandler) completionHandler(nullptr, 0);
  });
}

CVNAssetThumbnailGenerator::Result CVNAssetThumbnailGenerator::thumbnail(CVNAssetReader& reader, std::int64_t width,
                                                                         std::int64_t height, double seconds,
                                                                         std::uint32_t format) {
  if (!reader.isValid()) return {};
  // A caller's size is not trusted: the int32 decoder sizes would wrap, and a huge one would allocate without bound.
  const bool drawable = width > 0 && height > 0 &&
                        pm::isAcceptablePixelBufferSize(static_cast<std::size_t>(width), static_cast<std::size_t>(height));
  if (!drawable && reader.assetType() != kAssetTypeSound) return {};
  switch (reader.assetType()) {
    case kAssetTypeSound: {
      if (format != kThumbnailFormatJPEG) return {};
      const auto* audio = dynamic_cast<const CVNAudioAssetReader*>(&reader);
      if (!audio) return {};
      auto artwork = audio->artwork();
      if (artwork.empty()) return {};
      return {ThumbnailData::withBytes(std::move(artwork)), 0};
    }
    case kAssetTypeImage:
      return stillThumbnail(reader, width, height, format);
    default:
      return movieThumbnail(reader, width, height, seconds, format);
  }
}

CVNAssetThumbnailGenerator::Result CVNAssetThumbnailGenerator::stillThumbnail(CVNAssetReader& reader,
                                                                              std::int64_t width, std::int64_t height,
                                                                              std::uint32_t format) {
  if (format != kThumbnailFormatJPEG) return {};
  reader.setDesiredDimensions(width, height);
  std::int32_t track = 0;
  const auto sample = reader.nextSampleBufferForTrackIndex(&track);
  if (!sample || !sample->imageBuffer()) return {};
  return {jpegOf(sample->imageBuffer()), 0};
}

void CVNAssetThumbnailGenerator::decodeUntilAPictureIsKept(CVNAssetReader& reader, CVNDecoderProtocol& decoder) {
  // Handlers may run late, inside a later decode or finish(); only the first picture counts.
  bool failed = false;
  for (int decoded = 0; decoded < kMaximumVideoSamples && !failed && !thumbnailPixelBuffer(); ++decoded) {
    const auto sample = nextVideoSample(reader);
    if (!sample) break;
    decoder.decodeSampleBuffer(sample, true,
                               [this, &failed](bool success, const std::optional<std::string>&,
                                               const pm::SampleBufferRef& picture) {
                                 if (!success) {
                                   failed = true;
                                   return;
                                 }
                                 if (picture && picture->imageBuffer() && !thumbnailPixelBuffer()) {
                                   setThumbnailPixelBuffer(picture->imageBuffer());
                                 }
                               });
  }
  // Inside this scope: handlers the codec still holds run now and see `failed`.
  decoder.finish();
}

CVNAssetThumbnailGenerator::Result CVNAssetThumbnailGenerator::movieThumbnail(CVNAssetReader& reader,
                                                                              std::int64_t width, std::int64_t height,
                                                                              double seconds, std::uint32_t format) {
  auto decoder = makeDecoder_(reader);
  if (!decoder) return {};
  decoder->setShouldProduceGlobalIOSurface(false);
  decoder->setOutputDimensions(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  decoder->setPixelFormat(format == kThumbnailFormatBGRA ? pm::kPixelFormat32BGRA : pm::kPixelFormat32ARGB);
  if (!decoder->setup()) return {};

  const auto& video = reader.videoFormatDescription();
  const auto codec = video ? video->mediaSubType() : 0;
  if (seconds != 0) {
    // These decoders want to have seen a sequence header before the first picture after a seek.
    if (codec == pm::fourCC("mp2v") || codec == pm::fourCC("mp1v")) {
      if (const auto first = nextVideoSample(reader)) decoder->decodeSampleBuffer(first, false, [](bool, auto&, auto&) {});
    }
    reader.seekToTime(seconds, false, false);
  }
  decodeUntilAPictureIsKept(reader, *decoder);

  const auto picture = thumbnailPixelBuffer();
  setThumbnailPixelBuffer(nullptr);
  if (!picture) return {};
  switch (format) {
    case kThumbnailFormatJPEG: {
      if (picture->lockBaseAddress(pm::PixelBufferLockFlags::ReadOnly) != pm::kCVReturnSuccess) return {};
      auto data = jpegOf(picture);
      picture->unlockBaseAddress(pm::PixelBufferLockFlags::ReadOnly);
      return {std::move(data), 0};
    }
    case kThumbnailFormatARGB:
    case kThumbnailFormatBGRA: {
      auto data = ThumbnailData::wrappingPicture(picture);
      if (!data) return {};
      return {std::move(data), static_cast<std::int64_t>(picture->bytesPerRow())};
    }
    default:
      return {};
  }
}

}  // namespace media
