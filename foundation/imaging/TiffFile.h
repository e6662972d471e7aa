#pragma once
// Writes 8-bit, 4-sample pictures as TIFF files through libtiff, from rows
// in R G B A order (or A R G B, reordered here). The file appears under its
// name only once complete (written beside it, then renamed).

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform/Error.h"

namespace foundation::detail {

enum class TiffAlpha { Premultiplied = 1, Straight = 2 };
enum class TiffSampleOrder { RGBA = 1, ARGB = 2 };

platform::Status writeTiff(const std::filesystem::path& path, std::size_t width, std::size_t height,
                           const std::uint8_t* pixels, std::size_t bytesPerRow, TiffSampleOrder order, TiffAlpha alpha);

}  // namespace foundation::detail
