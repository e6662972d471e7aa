#pragma once
// Reads a still image file (PNG, JPEG, TIFF, BMP, GIF, WebP) through
// libavcodec: its type, size, the Exif tags the decoder reports, and its first
// image as premultiplied 8-bit RGBA. The type comes from the file's first
// bytes, not its name.
//
// Limits: files above kImageSourceMaxFileSize and pictures above
// kMaxPixelBufferSide a side or kMaxPixelBufferPixels are refused with an
// error before their pixels are allocated; damaged files give an error.
// One source per thread of use.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"
#include "platform/media/PixelBuffer.h"

namespace platform::media {

inline constexpr const char* kImageSourceErrorDomain = "platform.media.ImageSource";
inline constexpr std::size_t kImageSourceMaxFileSize = std::size_t{512} << 20;

enum class ImageSourceError { Unreadable = 1, UnknownType = 2, Damaged = 3, TooLarge = 4 };

// Property keys.
inline constexpr const char* kImagePropertyPixelWidth = "PixelWidth";
inline constexpr const char* kImagePropertyPixelHeight = "PixelHeight";
inline constexpr const char* kImagePropertyExifDictionary = "{Exif}";

class ImageSource {
 public:
  ~ImageSource();
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;

  static Result<std::unique_ptr<ImageSource>> createWithURL(const std::filesystem::path& path);
  static Result<std::unique_ptr<ImageSource>> createWithData(std::vector<std::uint8_t> data);

  // "public.png", "public.jpeg", "public.tiff", "public.bmp",
  // "public.gif", "public.webp".
  const std::string& type() const { return type_; }
  // PixelWidth, PixelHeight and, when the decoder gives them, {Exif}.
  Result<platform::Dictionary> properties();
  // The first image as premultiplied 'RGBA'.
  Result<std::shared_ptr<PixelBuffer>> createImage();

 private:
  explicit ImageSource(std::vector<std::uint8_t> data, std::string type);
  Status decode();

  std::vector<std::uint8_t> data_;
  std::string type_;
  std::shared_ptr<PixelBuffer> image_;
  platform::Dictionary properties_;
  std::optional<Error> failure_;
};

}  // namespace platform::media
