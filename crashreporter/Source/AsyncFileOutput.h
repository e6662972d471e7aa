#pragma once
// drcrash_async_file: the buffered output the crash-time writer writes through.
// Async-signal-safe: a fixed 256-byte buffer inside the record, write(2) only,
// no allocation. With a limit, a write that would take the total past it is
// refused whole (nothing of it is written), so the caller can budget a report.

#include <cstddef>
#include <cstdint>

namespace crashreporter {

inline constexpr std::size_t kDrcrashAsyncFileBufferSize = 256;

struct drcrash_async_file {
  int fd = -1;
  std::uint64_t limit_bytes = 0;     // 0 = no limit
  std::uint64_t total_bytes = 0;     // accepted so far
  std::uint64_t buffered_bytes = 0;  // waiting in buffer
  std::uint8_t buffer[kDrcrashAsyncFileBufferSize];
};

void drcrash_async_file_init(drcrash_async_file* file, int fd, std::uint64_t limit_bytes);
// False when the write is refused by the limit or the descriptor fails.
bool drcrash_async_file_write(drcrash_async_file* file, const void* data, std::size_t length);
bool drcrash_async_file_flush(drcrash_async_file* file);
// Flushes, then closes the descriptor; true when both succeed.
bool drcrash_async_file_close(drcrash_async_file* file);

// Writes all of `length` bytes, retrying after EINTR; the count, or -1.
long drcrash_async_writen(int fd, const void* data, std::size_t length);

}  // namespace crashreporter
