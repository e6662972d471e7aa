#pragma once
// drcrash_async_frame_walker: steps from the innermost frame outwards. Each
// step asks the frame readers in order, compact unwind (Mach-O only: ELF
// images answer 4), DWARF call-frame information from .eh_frame, then the
// saved frame-pointer chain, and takes the first that succeeds. A program
// counter below 0x1001 ends the walk with 2. Async-signal-safe; lives on the
// walking code's stack.

#include <cstddef>
#include <cstdint>

#include "crashreporter/Source/AsyncImageList.h"
#include "crashreporter/Source/ThreadState.h"

namespace crashreporter {

using drcrash_async_frame_reader = drcrash_frame_status_t (*)(drcrash_async_loaded_images* images,
                                                              const drcrash_async_thread_state* current,
                                                              const drcrash_async_thread_state* previous,
                                                              drcrash_async_thread_state* next);

drcrash_frame_status_t drcrash_async_frame_compact_unwind_reader(drcrash_async_loaded_images*, const drcrash_async_thread_state*,
                                                                 const drcrash_async_thread_state*, drcrash_async_thread_state*);
drcrash_frame_status_t drcrash_async_frame_dwarf_reader(drcrash_async_loaded_images*, const drcrash_async_thread_state*,
                                                        const drcrash_async_thread_state*, drcrash_async_thread_state*);
drcrash_frame_status_t drcrash_async_frame_fp_reader(drcrash_async_loaded_images*, const drcrash_async_thread_state*,
                                                     const drcrash_async_thread_state*, drcrash_async_thread_state*);

struct drcrash_async_frame_walker {
  drcrash_async_loaded_images* images = nullptr;  // borrowed
  std::uint32_t depth = 0;
  drcrash_async_thread_state previous;
  drcrash_async_thread_state current;
};

void drcrash_async_frame_walker_init(drcrash_async_frame_walker* walker, const drcrash_async_thread_state* state,
                                     drcrash_async_loaded_images* images);
drcrash_frame_status_t drcrash_async_frame_walker_next(drcrash_async_frame_walker* walker);
drcrash_frame_status_t drcrash_async_frame_walker_next_with_readers(drcrash_async_frame_walker* walker,
                                                                    const drcrash_async_frame_reader* readers,
                                                                    std::size_t count);
// 4 when the current frame does not know register `reg`.
drcrash_frame_status_t drcrash_async_frame_walker_get_reg(const drcrash_async_frame_walker* walker, std::uint32_t reg,
                                                          std::uint64_t* value);

}  // namespace crashreporter
