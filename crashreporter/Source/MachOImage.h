#pragma once
// drcrash_async_image_reader: a Mach-O image held in this process's memory
// (header, load commands, segments and sections, the symbol table) and the
// search for the symbol that holds an address. Images loaded here are ELF
// (AsyncImage.h); this reader serves Mach-O images held as bytes, with the
// same crash-time rules: every read goes through a memory object or the safe
// task reads, nothing is allocated but the path copy at init.
//
// The "task" is always the own process (Linux has no task ports).

#include <cstddef>
#include <cstdint>

#include "crashreporter/Source/AsyncMemory.h"

namespace crashreporter {

inline constexpr std::uint32_t kDrcrashMachOSegment = 0x1;
inline constexpr std::uint32_t kDrcrashMachOSymtab = 0x2;
inline constexpr std::uint32_t kDrcrashMachODysymtab = 0xB;
inline constexpr std::uint32_t kDrcrashMachOSegment64 = 0x19;
inline constexpr std::size_t kDrcrashSymbolNameSize = 256;

struct drcrash_async_image_reader {
  std::uint64_t header_address = 0;
  std::int64_t vm_slide = 0;  // header address minus the __TEXT vmaddr
  char* name = nullptr;        // own copy
  std::uint8_t header[28] = {};
  std::uint32_t header_size = 0;  // 28 or 32
  std::uint32_t ncmds = 0;
  drcrash_async_mobject load_cmds;  // the sizeofcmds bytes after the header
  std::uint64_t text_vmaddr = 0;
  std::uint64_t text_size = 0;
  bool m64 = false;
  const drcrash_async_byteorder* byteorder = &drcrash_async_byteorder_native;
};

// 0; 5 for an unknown magic or no __TEXT segment; 6 when the header cannot be read.
drcrash_error_t drcrash_async_image_reader_init(drcrash_async_image_reader* image, std::uint64_t header_address,
                                                const char* path);
void drcrash_async_image_reader_free(drcrash_async_image_reader* image);
// header address <= address < header address + text size
bool drcrash_async_image_reader_contains_address(const drcrash_async_image_reader* image, std::uint64_t address);
std::uint32_t drcrash_async_image_reader_cpu_type(const drcrash_async_image_reader* image);
std::uint32_t drcrash_async_image_reader_cpu_subtype(const drcrash_async_image_reader* image);

// Load commands by address: the one after `previous` (0: the first), 0 at the end.
std::uint64_t drcrash_async_image_reader_next_command(drcrash_async_image_reader* image, std::uint64_t previous);
std::uint64_t drcrash_async_image_reader_next_command_type(drcrash_async_image_reader* image, std::uint64_t previous,
                                                           std::uint32_t type);
std::uint64_t drcrash_async_image_reader_find_command(drcrash_async_image_reader* image, std::uint32_t type);
// The first LC_SEGMENT_64 (64-bit images) or LC_SEGMENT with that 16-byte name.
std::uint64_t drcrash_async_image_reader_find_segment(drcrash_async_image_reader* image, const char* name);
// A window over the segment at vmaddr + slide (partial mapping allowed); 8
// when there is no such segment. The file offset and size come back too.
drcrash_error_t drcrash_async_image_reader_map_segment(drcrash_async_image_reader* image, const char* name,
                                                       drcrash_async_mobject* out, std::uint64_t* file_offset,
                                                       std::uint64_t* file_size);
// A window over the whole section; 8 when absent, 5 for headers outside the commands.
drcrash_error_t drcrash_async_image_reader_map_section(drcrash_async_image_reader* image, const char* segment,
                                                       const char* section, drcrash_async_mobject* out);

// The symbol-table symbol that holds `address`: external definitions before
// local symbols when LC_DYSYMTAB splits them, the greatest value not above the
// address, the first seen at one value. Thumb definitions (n_desc 0x0008)
// count one byte later. Calls callback(value + slide, name, context); 8 when
// none, 6 when the link-edit data is missing or out of range, 5 for a bad
// table or an unreadable name.
using drcrash_async_symbol_cb = void (*)(std::uint64_t address, const char* name, void* context);
drcrash_error_t drcrash_async_image_reader_find_symbol(drcrash_async_image_reader* image, std::uint64_t address,
                                                       drcrash_async_symbol_cb callback, void* context);

}  // namespace crashreporter
