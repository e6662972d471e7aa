#pragma once
// One picture of a media file at a given time and size: JPEG for display, or
// the decoded picture's raw 32-bit pixels for the caller's own use. It reads
// through the reader factory and decodes with the decoder selection, as
// playback does, on a serial queue of its own. Requests run one after
// another; each calls its handler exactly once, with nil and 0 on any failure.
//
// Owned through shared_ptr: queued work holds the generator, so releasing it
// releases the reader and the queue once the last request has answered.
// Lives on: any thread for requests; the work on
// "com.dirarovazovo.thumbnailGenerationQueue".

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "media/decoders/CVNDecoderProtocol.h"
#include "media/readers/MediaURL.h"
#include "media/thumbnails/ThumbnailData.h"
#include "platform/DispatchQueue.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"

namespace media {

class CVNAssetReader;

// Output formats of a request.
enum ThumbnailFormat : std::uint32_t {
  kThumbnailFormatJPEG = 0,
  kThumbnailFormatARGB = 1,
  kThumbnailFormatBGRA = 2,
};

class CVNAssetThumbnailGenerator : public std::enable_shared_from_this<CVNAssetThumbnailGenerator> {
 public:
  // The data (or nil) and the bytes per row (0 unless raw pixels).
  using ThumbnailHandler = std::function<void(ThumbnailDataRef data, std::int64_t bytesPerRow)>;
  using DecoderFactory = std::function<std::unique_ptr<CVNDecoderProtocol>(const CVNAssetReader&)>;

  // initWithMediaURL: — decoders come from the standard selection unless a
  // factory is given.
  static std::shared_ptr<CVNAssetThumbnailGenerator> createWithMediaURL(const MediaURL& url,
                                                                        DecoderFactory makeDecoder = nullptr);
  ~CVNAssetThumbnailGenerator();
  CVNAssetThumbnailGenerator(const CVNAssetThumbnailGenerator&) = delete;
  CVNAssetThumbnailGenerator& operator=(const CVNAssetThumbnailGenerator&) = delete;

  // The seek is always imprecise; `precisely` is accepted and unused. Without
  // a reader the handler runs at once on the caller's thread, otherwise on
  // the generator's queue.
  void thumbnailWithDimensions(std::int64_t width, std::int64_t height, double seconds, bool precisely,
                               std::uint32_t format, ThumbnailHandler completionHandler);

  // nullptr when no reader could open the URL.
  const std::shared_ptr<CVNAssetReader>& asset() const { return asset_; }
  std::shared_ptr<platform::media::PixelBuffer> thumbnailPixelBuffer() const;
  void setThumbnailPixelBuffer(std::shared_ptr<platform::media::PixelBuffer> picture);

 private:
  CVNAssetThumbnailGenerator(const MediaURL& url, DecoderFactory makeDecoder);

  struct Result {
    ThumbnailDataRef data;
    std::int64_t bytesPerRow = 0;
  };
  // The reader a request reads: `asset_` for the first, a fresh one after.
  std::shared_ptr<CVNAssetReader> readerForRequest();
  Result thumbnail(CVNAssetReader& reader, std::int64_t width, std::int64_t height, double seconds,
                   std::uint32_t format);
  static Result stillThumbnail(CVNAssetReader& reader, std::int64_t width, std::int64_t height, std::uint32_t format);
  Result movieThumbnail(CVNAssetReader& reader, std::int64_t width, std::int64_t height, double seconds,
                        std::uint32_t format);
  // Decodes with output until a picture is kept (see the .cpp), then finishes the decoder.
  void decodeUntilAPictureIsKept(CVNAssetReader& reader, CVNDecoderProtocol& decoder);

  const MediaURL url_;
  const DecoderFactory makeDecoder_;
  std::shared_ptr<CVNAssetReader> asset_;
  std::atomic<bool> assetUsed_{false};
  std::unique_ptr<platform::SerialQueue> thumbnailGenerationQueue_;

  mutable std::mutex pictureMutex_;
  std::shared_ptr<platform::media::PixelBuffer> thumbnailPixelBuffer_;  // guarded by pictureMutex_
};

}  // namespace media
