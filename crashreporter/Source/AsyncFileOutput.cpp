#include "crashreporter/Source/AsyncFileOutput.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace crashreporter {

void drcrash_async_file_init(drcrash_async_file* file, int fd, std::uint64_t limit_bytes) {
  file->fd = fd;
  file->limit_bytes = limit_bytes;
  file->total_bytes = 0;
  file->buffered_bytes = 0;
}

long drcrash_async_writen(int fd, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t written = 0;
  while (written < length) {
    const ssize_t result = ::write(fd, bytes + written, length - written);
    if (result < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    written += static_cast<std::size_t>(result);
  }
  return static_cast<long>(written);
}

bool drcrash_async_file_write(drcrash_async_file* file, const void* data, std::size_t length) {
  if (file->limit_bytes != 0 && file->total_bytes + length > file->limit_bytes) return false;
  file->total_bytes += length;
  if (file->buffered_bytes + length > sizeof(file->buffer)) {
    if (!drcrash_async_file_flush(file)) return false;
  }
  if (length > sizeof(file->buffer)) return drcrash_async_writen(file->fd, data, length) >= 0;
  std::memcpy(file->buffer + file->buffered_bytes, data, length);
  file->buffered_bytes += length;
  return true;
}

bool drcrash_async_file_flush(drcrash_async_file* file) {
  if (file->buffered_bytes == 0) return true;
  const long written = drcrash_async_writen(file->fd, file->buffer, file->buffered_bytes);
  file->buffered_bytes = 0;
  return written >= 0;
}

bool drcrash_async_file_close(drcrash_async_file* file) {
  const bool flushed = drcrash_async_file_flush(file);
  const bool closed = ::close(file->fd) == 0;
  file->fd = -1;
  return flushed && closed;
}

}  // namespace crashreporter
