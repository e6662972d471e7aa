#pragma once
// drcrash_async_image: one loaded ELF object as crash-time code needs it,
// filled from the loader's program headers while the process is healthy
// (never at crash time). header address = the lowest PT_LOAD plus the load
// bias; "text" = the executable PT_LOAD; size = the span of the PT_LOADs;
// UUID = the first 16 bytes of the GNU build-id note, zero-padded; the
// .eh_frame_hdr from PT_GNU_EH_FRAME; the dynamic symbols from PT_DYNAMIC.

#include <cstddef>
#include <cstdint>

#include "crashreporter/Source/AsyncSupport.h"

struct dl_phdr_info;

namespace crashreporter {

struct drcrash_async_image_list_node;

struct drcrash_async_image {
  std::uint64_t header_address = 0;
  std::uint64_t load_bias = 0;
  std::uint64_t text_address = 0;
  std::uint64_t text_size = 0;
  std::uint64_t size = 0;
  char* name = nullptr;  // own copy
  bool has_uuid = false;
  std::uint8_t uuid[16] = {};
  std::uint64_t eh_frame_hdr = 0;  // 0: none
  std::uint64_t eh_frame_hdr_size = 0;
  std::uint64_t unwind_segment_start = 0;  // the segment that holds the unwind tables
  std::uint64_t eh_frame_limit = 0;        // and its end
  std::uint64_t dynsym = 0;          // 0: no dynamic symbols
  std::uint64_t dynstr = 0;
  std::uint64_t dynstr_size = 0;
  std::uint64_t dynsym_count = 0;
  std::uint32_t cpu_type = 0, cpu_subtype = 0;  // Mach-encoded, for the report
  drcrash_async_image_list_node* node = nullptr;
};

// Fills `image` from one entry of dl_iterate_phdr; `path` names it. Not
// async-safe (allocates the name). 5 when the entry has no PT_LOAD.
drcrash_error_t drcrash_async_image_init(drcrash_async_image* image, const dl_phdr_info* info, const char* path);
void drcrash_async_image_free(drcrash_async_image* image);

bool drcrash_async_image_contains_address(const drcrash_async_image* image, std::uint64_t address);

// The dynamic symbol that holds `address`: the greatest defined value not
// above it; at one value a global symbol wins over a local one, else the first
// seen. Calls callback(address of the symbol, name, context); 8 when none.
// Async-signal-safe: reads through the safe reads.
using drcrash_async_found_symbol_cb = void (*)(std::uint64_t address, const char* name, void* context);
drcrash_error_t drcrash_async_image_find_symbol(const drcrash_async_image* image, std::uint64_t address,
                                                drcrash_async_found_symbol_cb callback, void* context);

// The same search without copying the name: where the name lies (in .dynstr)
// and its length, at most 255 bytes. For writers that copy the name later.
struct drcrash_async_symbol_entry {
  std::uint64_t address = 0;
  std::uint64_t name_address = 0;
  std::uint32_t name_length = 0;
};
drcrash_error_t drcrash_async_image_find_symbol_entry(const drcrash_async_image* image, std::uint64_t address,
                                                      drcrash_async_symbol_entry* entry);

}  // namespace crashreporter
