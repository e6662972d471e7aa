#pragma once
// Compact unwind tables (the __TEXT,__unwind_info section of Mach-O images):
// the search of the two-level index for a function's 32-bit encoding, the
// decoding of x86, x86-64 and arm64 encodings into an entry, and applying an
// entry to a register state. Images here are ELF, so the frame walker never
// finds such a table; this is format code for Mach-O images held as bytes.
// Every read goes through a memory object or the safe task reads.
// Async-signal-safe.

#include <cstdint>

#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/ThreadState.h"

namespace crashreporter {

inline constexpr std::uint32_t kDrcrashCpuTypeX86 = 7;
inline constexpr std::uint32_t kDrcrashCpuTypeX86_64 = 0x01000007;
inline constexpr std::uint32_t kDrcrashCpuTypeArm64 = 0x0100000C;
inline constexpr std::uint32_t kDrcrashNoRegister = 0x7FFFFFFF;
inline constexpr std::uint32_t kDrcrashUnwindMaxSavedRegisters = 10;

enum drcrash_async_unwind_kind : std::uint32_t {
  DRCRASH_UNWIND_FRAME = 1,
  DRCRASH_UNWIND_FRAMELESS_IMMEDIATE = 2,
  DRCRASH_UNWIND_FRAMELESS_INDIRECT = 3,
  DRCRASH_UNWIND_DWARF = 4,
  DRCRASH_UNWIND_NONE = 5,
};

struct drcrash_async_unwind_info_reader {
  drcrash_async_mobject* section = nullptr;  // borrowed
  std::uint32_t cpu_type = 0;
  const drcrash_async_byteorder* byteorder = &drcrash_async_byteorder_native;
  std::uint32_t version = 0;
  std::uint32_t common_encodings_offset = 0, common_encodings_count = 0;
  std::uint32_t personality_offset = 0, personality_count = 0;
  std::uint32_t index_offset = 0, index_count = 0;
};

struct drcrash_async_unwind_entry {
  std::uint32_t kind = DRCRASH_UNWIND_NONE;
  std::uint32_t cpu_type = 0;
  std::int64_t stack_offset = 0;  // kind 1: save area from fp; 2: stack size; 3: immediate's offset; 4: FDE offset
  std::uint32_t stack_adjust = 0;
  std::uint32_t return_address_register = kDrcrashNoRegister;
  std::uint32_t saved_register_count = 0;
  std::uint32_t saved_registers[kDrcrashUnwindMaxSavedRegisters] = {};
};

// 4 for another processor or a version other than 1; 5 when the 28-byte
// header does not map.
drcrash_error_t drcrash_async_unwind_info_reader_init(drcrash_async_unwind_info_reader* reader, drcrash_async_mobject* section,
                                                      std::uint32_t cpu_type);
// `target`: the pc minus the image header's address. 0, 5 (damaged table) or
// 8 (no function holds it).
drcrash_error_t drcrash_async_unwind_info_find(const drcrash_async_unwind_info_reader* reader, std::uint32_t target,
                                               std::uint32_t* function_offset, std::uint32_t* encoding);
// 4 for an unknown mode, 5 for a bad register code or permutation.
drcrash_error_t drcrash_async_unwind_entry_decode(drcrash_async_unwind_entry* entry, std::uint32_t cpu_type,
                                                  std::uint32_t encoding);
// The caller's registers: 4 for DWARF and "none" entries, 8 for a missing
// register, else 0 or the failed read's code.
drcrash_error_t drcrash_async_unwind_entry_apply(std::uint64_t function_start, const drcrash_async_thread_state* current,
                                                 const drcrash_async_unwind_entry* entry, drcrash_async_thread_state* out);

// Frameless register lists: `count` (0..6) digits of `permutation` into
// register numbers; 5 for a count above 6 or a code out of range.
drcrash_error_t drcrash_async_unwind_permutation_decode(std::uint32_t permutation, std::uint32_t count,
                                                        std::uint32_t cpu_type, std::uint32_t* registers);

}  // namespace crashreporter
