#include "crashreporter/Source/AsyncMemory.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace crashreporter {
namespace {

constexpr std::uint64_t kPageSize = 4096;
constexpr std::size_t kPipeChunk = 4096;

std::atomic<int> gPipeRead{-1};
std::atomic<int> gPipeWrite{-1};
std::atomic<bool> gUsePipe{false};
// The own pid, kept so each read costs one system call; a forked child takes its own.
std::atomic<pid_t> gPid{0};

void rememberPid() { gPid.store(::getpid()); }

drcrash_error_t readThroughPipe(std::uint64_t address, void* dest, std::size_t length) {
  const int in = gPipeRead.load(), out = gPipeWrite.load();
  if (in < 0 || out < 0) return DRCRASH_EINTERNAL;
  auto* d = static_cast<std::uint8_t*>(dest);
  std::size_t done = 0;
  while (done < length) {
    const std::size_t chunk = length - done < kPipeChunk ? length - done : kPipeChunk;
    ssize_t written;
    do {
      written = ::write(out, reinterpret_cast<const void*>(address + done), chunk);
    } while (written < 0 && errno == EINTR);
    if (written < 0) return errno == EFAULT ? DRCRASH_ENOTFOUND : DRCRASH_EUNKNOWN;
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(written)) {
      const ssize_t r = ::read(in, d + done + got, static_cast<std::size_t>(written) - got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return DRCRASH_EUNKNOWN;
      got += static_cast<std::size_t>(r);
    }
    if (static_cast<std::size_t>(written) < chunk) return DRCRASH_ENOTFOUND;  // ran into an unreadable page
    done += chunk;
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t directRead(std::uint64_t address, void* dest, std::size_t length) {
  if (length == 0) return DRCRASH_ESUCCESS;
  if (!gUsePipe.load(std::memory_order_relaxed)) {
    iovec local{dest, length};
    iovec remote{reinterpret_cast<void*>(address), length};
    pid_t pid = gPid.load(std::memory_order_relaxed);
    if (pid == 0) pid = ::getpid();
    const ssize_t n = ::process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (n == static_cast<ssize_t>(length)) return DRCRASH_ESUCCESS;
    if (n >= 0 || errno == EFAULT) return DRCRASH_ENOTFOUND;
    if (errno != ENOSYS && errno != EPERM) return DRCRASH_EUNKNOWN;
    gUsePipe.store(true);
  }
  return readThroughPipe(address, dest, length);
}

// The read cache: whole pages for the one thread holding a scope, in
// process-wide memory so a signal handler needs no stack for it. Any page can
// take any slot (stack pages and unwind tables would keep evicting each other
// in a direct-mapped cache); the last hit is tried first, and slots are
// refilled in turn.
constexpr std::size_t kCachePages = 64;
struct CachedPage {
  std::uint64_t page;
  bool valid;
  std::uint8_t bytes[kPageSize];
};
CachedPage gCache[kCachePages];
std::size_t gLastHit = 0, gNextFill = 0;
std::atomic<bool> gCacheTaken{false};
std::uint64_t gCacheGeneration = 0;
__attribute__((tls_model("initial-exec"))) thread_local bool tCacheHeld = false;

CachedPage* cachedPage(std::uint64_t page) {
  if (gCache[gLastHit].valid && gCache[gLastHit].page == page) return &gCache[gLastHit];
  for (std::size_t i = 0; i < kCachePages; ++i) {
    if (gCache[i].valid && gCache[i].page == page) {
      gLastHit = i;
      return &gCache[i];
    }
  }
  CachedPage& slot = gCache[gNextFill];
  slot.valid = false;
  if (directRead(page, slot.bytes, kPageSize) != DRCRASH_ESUCCESS) return nullptr;
  slot.page = page;
  slot.valid = true;
  gLastHit = gNextFill;
  gNextFill = (gNextFill + 1) % kCachePages;
  return &slot;
}

drcrash_error_t cachedRead(std::uint64_t address, void* dest, std::size_t length) {
  auto* d = static_cast<std::uint8_t*>(dest);
  while (length > 0) {
    const std::uint64_t page = address & ~(kPageSize - 1);
    const CachedPage* cached = cachedPage(page);
    if (cached == nullptr) return DRCRASH_ENOTFOUND;
    const std::size_t offset = static_cast<std::size_t>(address - page);
    const std::size_t chunk = kPageSize - offset < length ? kPageSize - offset : length;
    std::memcpy(d, cached->bytes + offset, chunk);  // async-signal-safe since POSIX.1-2016
    d += chunk;
    address += chunk;
    length -= chunk;
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t safeRead(std::uint64_t address, void* dest, std::size_t length) {
  if (tCacheHeld && length > 0 && address + length > address) return cachedRead(address, dest, length);
  return directRead(address, dest, length);
}

template <typename T>
drcrash_error_t readValue(std::uint64_t address, std::int64_t offset, T* out) {
  std::uint64_t at;
  if (!drcrash_async_address_apply_offset(address, offset, &at) || at + sizeof(T) < at) return DRCRASH_ENOMEM;
  return safeRead(at, out, sizeof(T));
}

}  // namespace

void drcrash_async_memory_init() {
  static const bool forkHandled = [] {
    rememberPid();
    pthread_atfork(nullptr, nullptr, rememberPid);
    return true;
  }();
  (void)forkHandled;
  if (gPipeRead.load() >= 0) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  int expected = -1;
  if (!gPipeRead.compare_exchange_strong(expected, fds[0])) {
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  gPipeWrite.store(fds[1]);
}

bool drcrash_async_read_cache_begin() {
  if (tCacheHeld || gCacheTaken.exchange(true, std::memory_order_acquire)) return false;
  for (CachedPage& page : gCache) page.valid = false;
  ++gCacheGeneration;
  tCacheHeld = true;
  return true;
}

std::uint64_t drcrash_async_read_cache_generation() { return tCacheHeld ? gCacheGeneration : 0; }

void drcrash_async_read_cache_end() {
  if (!tCacheHeld) return;
  tCacheHeld = false;
  gCacheTaken.store(false, std::memory_order_release);
}

void drcrash_async_memory_use_pipe_for_testing(bool usePipe) {
  drcrash_async_memory_init();
  gUsePipe.store(usePipe);
}

drcrash_error_t drcrash_async_task_memcpy(std::uint64_t address, std::int64_t offset, void* dest, std::size_t length) {
  std::uint64_t at;
  // Overflow is refused before the kernel is asked anything.
  if (!drcrash_async_address_apply_offset(address, offset, &at) || at + length < at) return DRCRASH_ENOMEM;
  return safeRead(at, dest, length);
}

drcrash_error_t drcrash_async_task_read_uint8(std::uint64_t address, std::int64_t offset, std::uint8_t* out) {
  return readValue(address, offset, out);
}

drcrash_error_t drcrash_async_task_read_uint16(const drcrash_async_byteorder* order, std::uint64_t address,
                                               std::int64_t offset, std::uint16_t* out) {
  const drcrash_error_t error = readValue(address, offset, out);
  if (error == DRCRASH_ESUCCESS) *out = order->swap16(*out);
  return error;
}

drcrash_error_t drcrash_async_task_read_uint32(const drcrash_async_byteorder* order, std::uint64_t address,
                                               std::int64_t offset, std::uint32_t* out) {
  const drcrash_error_t error = readValue(address, offset, out);
  if (error == DRCRASH_ESUCCESS) *out = order->swap32(*out);
  return error;
}

drcrash_error_t drcrash_async_task_read_uint64(const drcrash_async_byteorder* order, std::uint64_t address,
                                               std::int64_t offset, std::uint64_t* out) {
  const drcrash_error_t error = readValue(address, offset, out);
  if (error == DRCRASH_ESUCCESS) *out = order->swap64(*out);
  return error;
}

drcrash_error_t drcrash_async_mobject_init(drcrash_async_mobject* mobj, std::uint64_t address, std::uint64_t length,
                                           bool require_full) {
  mobj->target_address = address;
  mobj->length = 0;
  mobj->cache_address = 0;
  mobj->cache_length = 0;
  if (address + length < address) return DRCRASH_ENOMEM;
  if (require_full) {
    mobj->length = length;
    return DRCRASH_ESUCCESS;
  }
  if (length == 0) return DRCRASH_ENOMEM;
  const std::uint64_t start = address & ~(kPageSize - 1);
  const std::uint64_t end = address + length;
  std::uint64_t covered = start;
  while (covered < end) {
    std::uint8_t probe;
    if (safeRead(covered, &probe, 1) != DRCRASH_ESUCCESS) break;
    if (covered + kPageSize < covered) {
      covered = end;
      break;
    }
    covered += kPageSize;
  }
  if (covered <= address) return DRCRASH_ENOMEM;
  mobj->length = (covered < end ? covered : end) - address;
  return DRCRASH_ESUCCESS;
}

bool drcrash_async_mobject_verify(const drcrash_async_mobject* mobj, std::uint64_t address, std::int64_t offset,
                                  std::uint64_t length) {
  std::uint64_t at;
  if (!drcrash_async_address_apply_offset(address, offset, &at)) return false;
  if (at < mobj->target_address || at + length < at) return false;
  return at + length <= mobj->target_address + mobj->length;
}

drcrash_error_t drcrash_async_mobject_read(drcrash_async_mobject* mobj, std::uint64_t address, std::int64_t offset,
                                           void* dest, std::size_t length) {
  if (!drcrash_async_mobject_verify(mobj, address, offset, length)) return DRCRASH_EINVAL;
  const std::uint64_t at = address + static_cast<std::uint64_t>(offset);
  if (length > sizeof(mobj->cache)) return safeRead(at, dest, length) == DRCRASH_ESUCCESS ? DRCRASH_ESUCCESS : DRCRASH_EINVAL;
  if (at < mobj->cache_address || at + length > mobj->cache_address + mobj->cache_length) {
    const std::uint64_t windowEnd = mobj->target_address + mobj->length;
    std::size_t fill = sizeof(mobj->cache);
    if (windowEnd - at < fill) fill = static_cast<std::size_t>(windowEnd - at);
    // A block that crosses into an unreadable page is shortened to the page.
    if (safeRead(at, mobj->cache, fill) != DRCRASH_ESUCCESS) {
      fill = static_cast<std::size_t>(((at | (kPageSize - 1)) + 1) - at);
      if (fill < length || safeRead(at, mobj->cache, fill) != DRCRASH_ESUCCESS) {
        mobj->cache_length = 0;
        return DRCRASH_EINVAL;
      }
    }
    mobj->cache_address = at;
    mobj->cache_length = fill;
  }
  drcrash_async_memcpy(dest, mobj->cache + (at - mobj->cache_address), length);
  return DRCRASH_ESUCCESS;
}

drcrash_error_t drcrash_async_mobject_read_uint8(drcrash_async_mobject* mobj, std::uint64_t address,
                                                 std::int64_t offset, std::uint8_t* out) {
  return drcrash_async_mobject_read(mobj, address, offset, out, 1);
}

drcrash_error_t drcrash_async_mobject_read_uint16(drcrash_async_mobject* mobj, const drcrash_async_byteorder* order,
                                                  std::uint64_t address, std::int64_t offset, std::uint16_t* out) {
  const drcrash_error_t error = drcrash_async_mobject_read(mobj, address, offset, out, sizeof *out);
  if (error == DRCRASH_ESUCCESS) *out = order->swap16(*out);
  return error;
}

drcrash_error_t drcrash_async_mobject_read_uint32(drcrash_async_mobject* mobj, const drcrash_async_byteorder* order,
                                                  std::uint64_t address, std::int64_t offset, std::uint32_t* out) {
  const drcrash_error_t error = drcrash_async_mobject_read(mobj, address, offset, out, sizeof *out);
  if (error == DRCRASH_ESUCCESS) *out = order->swap32(*out);
  return error;
}

drcrash_error_t drcrash_async_mobject_read_uint64(drcrash_async_mobject* mobj, const drcrash_async_byteorder* order,
                                                  std::uint64_t address, std::int64_t offset, std::uint64_t* out) {
  const drcrash_error_t error = drcrash_async_mobject_read(mobj, address, offset, out, sizeof *out);
  if (error == DRCRASH_ESUCCESS) *out = order->swap64(*out);
  return error;
}

}  // namespace crashreporter
