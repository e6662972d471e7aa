#pragma once
// An audio file's cover picture as JPEG: artwork already in JPEG passes as
// it is, other pictures are decoded and encoded again. Any thread.

#include <cstdint>
#include <vector>

#include "media/readers/audio/AudioFile.h"

namespace media {

// Album artwork: as it is when shorter than 3 bytes or JPEG already;
// empty when it cannot be decoded.
std::vector<std::uint8_t> jpegFromPicture(std::vector<std::uint8_t> picture);
// A tag's pictures: the only one, else the first front cover that gives
// data; empty when none does.
std::vector<std::uint8_t> coverFromPictures(const std::vector<AudioFilePicture>& pictures);

}  // namespace media
