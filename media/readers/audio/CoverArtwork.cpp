#include "media/readers/audio/CoverArtwork.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "foundation/imaging/CGImageUtil.h"
#include "platform/media/ImageSource.h"

namespace media {

namespace {

constexpr const char* kFrontCover = "Cover (front)";
// The encoder's own default quality.
constexpr double kJPEGQuality = 0.75;

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::vector<std::uint8_t> encodedAsJPEG(std::vector<std::uint8_t> data) {
  auto source = platform::media::ImageSource::createWithData(std::move(data));
  if (!source) return {};
  auto image = (*source)->createImage();
  if (!image || !*image) return {};
  const foundation::Size size{static_cast<double>((*image)->width()), static_cast<double>((*image)->height())};
  return foundation::CGImageUtil::bitmapImageDataForImage(*image, size, kJPEGQuality, nullptr);
}

std::vector<std::uint8_t> jpegFromTagPicture(const AudioFilePicture& picture) {
  const std::string mime = lowerCased(picture.mime);
  if (mime == "image/jpeg" || mime == "image/jpg") return picture.data;
  return encodedAsJPEG(picture.data);
}

}  // namespace

std::vector<std::uint8_t> jpegFromPicture(std::vector<std::uint8_t> picture) {
  if (picture.size() < 3 || (picture[0] == 0xFF && picture[1] == 0xD8)) return picture;
  return encodedAsJPEG(std::move(picture));
}

std::vector<std::uint8_t> coverFromPictures(const std::vector<AudioFilePicture>& pictures) {
  if (pictures.size() == 1) return jpegFromTagPicture(pictures.front());
  for (const auto& picture : pictures) {
    if (picture.pictureType != kFrontCover) continue;
    auto data = jpegFromTagPicture(picture);
    if (!data.empty()) return data;
  }
  return {};
}

}  // namespace media
