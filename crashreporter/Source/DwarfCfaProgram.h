#pragma once
// Runs call-frame instructions into a rule table and applies the table to a
// frame's registers to recover its caller's. DW_CFA_GNU_args_size, which GCC
// emits around calls with pushed arguments, is read and changes no rule.
// Async-signal-safe.

#include <cstdint>

#include "crashreporter/Source/DwarfCfaState.h"
#include "crashreporter/Source/DwarfFrameInfo.h"
#include "crashreporter/Source/ThreadState.h"

namespace crashreporter::drcrash::async {

// Runs the `length` bytes of instructions at address + offset (inside `mobj`)
// from `initial_location`, stopping once the location passes `target`
// (`has_target` false: run them all).
template <typename T, typename ST>
drcrash_error_t eval_program(dwarf_cfa_state<T, ST>* state, drcrash_async_mobject* mobj, bool has_target, T target,
                             T initial_location, const drcrash_async_dwarf_cie_info* cie,
                             const gnu_ehptr_reader<T>* ptr_reader, const drcrash_async_byteorder* byteorder,
                             std::uint64_t address, std::int64_t offset, std::uint64_t length);

// The caller's registers from `current` and the rules of the current level.
template <typename T, typename ST>
drcrash_error_t apply_state(const dwarf_cfa_state<T, ST>* state, const drcrash_async_dwarf_cie_info* cie,
                            const drcrash_async_thread_state* current, const drcrash_async_byteorder* byteorder,
                            drcrash_async_thread_state* out);

}  // namespace crashreporter::drcrash::async
