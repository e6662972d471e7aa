// Annex-B to length-prefixed conversion over any bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "media/buffers/CVNCMSampleBufferUtilities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  (void)media::CVNCMSampleBufferUtilities::convertAnnexBFrame(std::span<const std::uint8_t>(data, size), &error);
  return 0;
}
