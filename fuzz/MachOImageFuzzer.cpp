// Mach-O images: damaged headers, load commands, symbol tables and class
// metadata held in memory. Every lookup must end with a code; pointers the
// metadata holds are followed only through the safe reads.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crashreporter/Source/MachOImage.h"
#include "crashreporter/Source/MachOObjC.h"

using namespace crashreporter;

namespace {
void ignore(std::uint64_t, const char*, void*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    drcrash_async_memory_init();
    return true;
  }();
  (void)ready;
  if (size < 4) return 0;
  // The image at an aligned address, as a loader maps it.
  std::vector<std::uint64_t> image((size + 7) / 8);
  std::memcpy(image.data(), data, size);
  const auto header = reinterpret_cast<std::uint64_t>(image.data());
  drcrash_async_image_reader reader;
  if (drcrash_async_image_reader_init(&reader, header, "fuzz") != DRCRASH_ESUCCESS) return 0;
  drcrash_async_mobject section;
  drcrash_async_image_reader_map_section(&reader, "__TEXT", "__unwind_info", &section);
  drcrash_async_image_reader_map_section(&reader, "__DATA", "__objc_data", &section);
  drcrash_async_objc_scan_cache cache;
  drcrash_async_objc_cache_init(&cache);
  // Addresses inside the image and past it.
  for (const std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{size / 2}, std::uint64_t{size + 64}}) {
    drcrash_async_find_best_symbol(&reader, 3, &cache, header + offset, ignore, nullptr);
  }
  drcrash_async_objc_cache_free(&cache);
  drcrash_async_image_reader_free(&reader);
  return 0;
}
