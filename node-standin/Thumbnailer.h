#pragma once
// Thumbnails of media files: one picture decoded near the asked position and
// scaled to fit a small box, as TIFF data (what clients store for a clip).
//
// makeThumbnail is reentrant; it decodes on the calling thread (tens of
// milliseconds for a small clip) and never throws.

#include <filesystem>

#include "platform/Error.h"
#include "platform/Value.h"

namespace standin {

inline constexpr const char* kThumbnailErrorDomain = "ThumbnailErrorDomain";
enum class ThumbnailErrorCode { Unreadable = 1, NoVideo = 2, DecodeFailed = 3 };

struct ThumbnailBox {
  int maxWidth = 160;
  int maxHeight = 90;
};

// The picture shown at `positionInSeconds` (or the last one before the end,
// for positions past it), scaled to fit `box` with its aspect ratio kept.
platform::Result<platform::Data> makeThumbnail(const std::filesystem::path& path, double positionInSeconds,
                                               ThumbnailBox box = {});

}  // namespace standin
