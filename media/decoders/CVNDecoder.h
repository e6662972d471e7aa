#pragma once
// Chooses the decoder of a reader's video track from its codec code and the
// asset type, and keeps the process-wide cache of pixel-buffer pools keyed by
// their attributes. Class operations only.
//
// Any thread: the selection keeps no state; the pool cache is guarded.

#include <memory>
#include <optional>
#include <string>

#include "media/decoders/CVNDecoderProtocol.h"
#include "platform/media/PixelBufferPool.h"

namespace media {

class CVNAssetReader;

class CVNDecoder {
 public:
  // The decoder for the reader's video, or nullptr (no video description, an
  // unknown code, or a code only the movie reader's codec context can decode
  // behind another reader). Rows "movie reader only" need a reader that is
  // an FFmpegCodecSource.
  static std::unique_ptr<CVNDecoderProtocol> copyDecoderForAsset(const CVNAssetReader& reader);

  // The cached pool for these attributes, made on first request. nullptr on
  // failure, with "Failed to create PixelBufferPool (error: %i), using
  // attributes: %@" in `error` when given, else in the system log.
  static std::shared_ptr<platform::media::PixelBufferPool> pixelBufferPoolWithAttributes(
      const platform::media::PixelBufferPoolAttributes& attributes, std::string* error = nullptr);

  // Text form of pool attributes (the failure text, logs).
  static std::string describeAttributes(const platform::media::PixelBufferPoolAttributes& attributes);
};

}  // namespace media
