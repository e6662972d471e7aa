#pragma once
// DWARF expressions as call-frame rules use them: a 100-word stack, reads of
// this process's memory through the safe read, registers from a thread state.
// Branches (DW_OP_skip, DW_OP_bra) could loop for ever inside a signal
// handler, so an expression ends with 5 after 10,000 operations.
// Async-signal-safe.

#include <cstdint>

#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/ThreadState.h"

namespace crashreporter::drcrash::async {

inline constexpr std::uint32_t kDwarfExpressionStackSize = 100;
inline constexpr std::uint32_t kDwarfExpressionMaxOperations = 10000;

// Evaluates the `length` bytes at address + offset in `mobj`. `initial` values
// are pushed first (in order). The top of the stack is the result.
template <typename T, typename ST>
drcrash_error_t drcrash_async_dwarf_expression_eval(drcrash_async_mobject* mobj, const drcrash_async_thread_state* state,
                                                    const drcrash_async_byteorder* byteorder, std::uint64_t address,
                                                    std::int64_t offset, std::uint64_t length, const T* initial,
                                                    std::size_t initial_count, T* result);

}  // namespace crashreporter::drcrash::async
