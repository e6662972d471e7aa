#pragma once
// CIE and FDE records of .eh_frame (and .debug_frame), and the search for the
// FDE that covers a program counter: a binary search of the sorted table in
// .eh_frame_hdr where the image has one, else a walk over the section. All
// offsets here are addresses in this process; every read goes through a memory
// object. Async-signal-safe; templates over the target word.

#include <cstdint>

#include "crashreporter/Source/DwarfEncoding.h"

namespace crashreporter::drcrash::async {

struct drcrash_async_dwarf_cie_info {
  std::uint64_t cie_offset = 0;  // address of the contents after the length field
  std::uint64_t cie_length = 0;
  std::uint64_t cie_id = 0;
  std::uint8_t cie_version = 0;
  std::uint8_t address_size = 0;
  std::uint8_t segment_size = 0;
  std::uint64_t code_alignment_factor = 0;
  std::int64_t data_alignment_factor = 0;
  std::uint64_t return_address_register = 0;
  bool has_eh_augmentation = false;
  bool has_lsda_encoding = false;
  std::uint8_t lsda_encoding = 0;
  bool has_personality_address = false;
  std::uint64_t personality_address = 0;
  bool has_pointer_encoding = false;
  std::uint8_t pointer_encoding = 0;
  bool signal_frame = false;
  std::uint64_t initial_instructions_offset = 0;  // address
  std::uint64_t initial_instructions_length = 0;
};

struct drcrash_async_dwarf_fde_info {
  std::uint64_t fde_offset = 0;  // address of the contents after the length field
  std::uint64_t fde_length = 0;
  std::uint64_t cie_offset = 0;  // address of the CIE record
  std::uint64_t pc_start = 0;
  std::uint64_t pc_end = 0;
  std::uint64_t instructions_offset = 0;  // address
  std::uint64_t instructions_length = 0;
  drcrash_async_dwarf_cie_info cie;
};

template <typename T>
drcrash_error_t drcrash_async_dwarf_cie_info_init(drcrash_async_dwarf_cie_info* info, drcrash_async_mobject* mobj,
                                                  const drcrash_async_byteorder* byteorder,
                                                  const gnu_ehptr_reader<T>* ptr_reader, std::uint64_t address);
// `section_base`: the section's first byte, against which .debug_frame CIE pointers count.
template <typename T>
drcrash_error_t drcrash_async_dwarf_fde_info_init(drcrash_async_dwarf_fde_info* info, drcrash_async_mobject* mobj,
                                                  const drcrash_async_byteorder* byteorder, std::uint64_t address,
                                                  bool debug_frame);

// Walks the section held by `mobj` from `start` and finds the first FDE whose
// [start, end) holds `pc`: 0, 8 when none, or the parse error.
template <typename T>
drcrash_error_t drcrash_async_cfi_find_fde(drcrash_async_mobject* mobj, const drcrash_async_byteorder* byteorder,
                                           bool debug_frame, std::uint64_t start, std::uint64_t pc,
                                           drcrash_async_dwarf_fde_info* fde);

// The FDE for `pc` through an .eh_frame_hdr at `hdr_address` (`hdr_length`
// bytes): binary search of its sorted table (datarel, the data base being the
// table's own address); without a usable table, the walk over .eh_frame up to
// `eh_frame_limit`.
drcrash_error_t drcrash_async_eh_frame_hdr_find_fde(std::uint64_t hdr_address, std::uint64_t hdr_length,
                                                    std::uint64_t eh_frame_limit, std::uint64_t pc,
                                                    drcrash_async_dwarf_fde_info* fde);
// The walk alone, from the .eh_frame start the header names (for comparison).
drcrash_error_t drcrash_async_eh_frame_hdr_find_fde_linear(std::uint64_t hdr_address, std::uint64_t hdr_length,
                                                           std::uint64_t eh_frame_limit, std::uint64_t pc,
                                                           drcrash_async_dwarf_fde_info* fde);

}  // namespace crashreporter::drcrash::async
