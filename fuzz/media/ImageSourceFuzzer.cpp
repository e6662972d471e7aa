// Still images of any kind through ImageSource: every input gives an image or
// an error, within the size limits.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/media/ImageSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto source = platform::media::ImageSource::createWithData(std::vector<std::uint8_t>(data, data + size));
  if (source.ok()) (void)(*source)->createImage();
  return 0;
}
