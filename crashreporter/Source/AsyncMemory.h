#pragma once
// Reads of this process's memory that cannot fault. Linux has no task port:
// the "task" is always the own process, read with process_vm_readv on the own
// pid, which reports an unreadable range as EFAULT instead of raising SIGSEGV.
// Where seccomp refuses that call, a write of the range into a pipe opened at
// enable does the same job (write(2) also answers EFAULT). Linux does not tell
// an unmapped page from a protected one, so a failed read is always 8 ("Not
// found") and 7 never occurs.
//
// drcrash_async_mobject is a bounded read window over a range: every read is
// checked against the range and copied through the safe read; a small cache of
// the last block read saves system calls for the byte-wise DWARF readers.
// Crash-time code dereferences nothing outside its own stack.

#include <cstddef>
#include <cstdint>

#include "crashreporter/Source/AsyncSupport.h"

namespace crashreporter {

// Prepares the fallback (not async-safe; call when enabling). Idempotent.
void drcrash_async_memory_init();
// Forces the pipe fallback, as when seccomp refuses process_vm_readv.
void drcrash_async_memory_use_pipe_for_testing(bool usePipe);

// A read cache for one walk or one report: while the calling thread holds it,
// its reads are served from whole pages kept in process-wide memory (64 pages),
// so the unwind tables, symbol tables and stack a walk goes over cost one
// system call per page instead of one per read. Only for memory that does not
// change while the scope lasts (the images' read-only data and stopped or
// walked stacks): the scope must end before that memory may change. One thread
// holds it at a time; begin returns false (reads stay uncached) when another
// thread holds it or the caller already does.
bool drcrash_async_read_cache_begin();
void drcrash_async_read_cache_end();
// Which scope the calling thread holds (a new number for every scope), 0 when
// none: results computed from memory read in one scope may be kept for it.
std::uint64_t drcrash_async_read_cache_generation();
class drcrash_async_read_cache_scope {
 public:
  drcrash_async_read_cache_scope() : held_(drcrash_async_read_cache_begin()) {}
  ~drcrash_async_read_cache_scope() {
    if (held_) drcrash_async_read_cache_end();
  }
  drcrash_async_read_cache_scope(const drcrash_async_read_cache_scope&) = delete;
  drcrash_async_read_cache_scope& operator=(const drcrash_async_read_cache_scope&) = delete;

 private:
  bool held_;
};

drcrash_error_t drcrash_async_task_memcpy(std::uint64_t address, std::int64_t offset, void* dest, std::size_t length);
drcrash_error_t drcrash_async_task_read_uint8(std::uint64_t address, std::int64_t offset, std::uint8_t* out);
drcrash_error_t drcrash_async_task_read_uint16(const drcrash_async_byteorder* order, std::uint64_t address,
                                               std::int64_t offset, std::uint16_t* out);
drcrash_error_t drcrash_async_task_read_uint32(const drcrash_async_byteorder* order, std::uint64_t address,
                                               std::int64_t offset, std::uint32_t* out);
drcrash_error_t drcrash_async_task_read_uint64(const drcrash_async_byteorder* order, std::uint64_t address,
                                               std::int64_t offset, std::uint64_t* out);

inline constexpr std::size_t kDrcrashMobjectCacheSize = 512;

struct drcrash_async_mobject {
  std::uint64_t target_address = 0;  // start of the readable window
  std::uint64_t length = 0;          // bytes readable from target_address
  std::uint64_t cache_address = 0;
  std::size_t cache_length = 0;
  std::uint8_t cache[kDrcrashMobjectCacheSize];
};

// Without `require_full`, probes page by page and keeps the readable head of
// the range (nothing readable, or length 0: 3). With it, the whole range is
// taken and each read checks its own bytes.
drcrash_error_t drcrash_async_mobject_init(drcrash_async_mobject* mobj, std::uint64_t address, std::uint64_t length,
                                           bool require_full);
// True when [address + offset, + length) lies inside the window.
bool drcrash_async_mobject_verify(const drcrash_async_mobject* mobj, std::uint64_t address, std::int64_t offset,
                                  std::uint64_t length);
// Copies bytes of the window; outside it or unreadable: 5.
drcrash_error_t drcrash_async_mobject_read(drcrash_async_mobject* mobj, std::uint64_t address, std::int64_t offset,
                                           void* dest, std::size_t length);
drcrash_error_t drcrash_async_mobject_read_uint8(drcrash_async_mobject* mobj, std::uint64_t address,
                                                 std::int64_t offset, std::uint8_t* out);
drcrash_error_t drcrash_async_mobject_read_uint16(drcrash_async_mobject* mobj, const drcrash_async_byteorder* order,
                                                  std::uint64_t address, std::int64_t offset, std::uint16_t* out);
drcrash_error_t drcrash_async_mobject_read_uint32(drcrash_async_mobject* mobj, const drcrash_async_byteorder* order,
                                                  std::uint64_t address, std::int64_t offset, std::uint32_t* out);
drcrash_error_t drcrash_async_mobject_read_uint64(drcrash_async_mobject* mobj, const drcrash_async_byteorder* order,
                                                  std::uint64_t address, std::int64_t offset, std::uint64_t* out);
inline std::uint64_t drcrash_async_mobject_target_address(const drcrash_async_mobject* mobj) { return mobj->target_address; }
inline std::uint64_t drcrash_async_mobject_length(const drcrash_async_mobject* mobj) { return mobj->length; }

}  // namespace crashreporter
