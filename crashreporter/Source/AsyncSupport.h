#pragma once
// Crash-time basics: the reporter's error codes and their words, byte order,
// overflow-checked address arithmetic and small async-signal-safe stand-ins
// for library routines. Everything here is safe in a signal handler.

#include <cstddef>
#include <cstdint>

namespace crashreporter {

enum drcrash_error_t : int {
  DRCRASH_ESUCCESS = 0,
  DRCRASH_EUNKNOWN = 1,
  DRCRASH_OUTPUT_ERR = 2,
  DRCRASH_ENOMEM = 3,
  DRCRASH_ENOTSUP = 4,
  DRCRASH_EINVAL = 5,
  DRCRASH_EINTERNAL = 6,
  DRCRASH_EACCESS = 7,  // never given on Linux: it does not tell protected from unmapped
  DRCRASH_ENOTFOUND = 8,
  DRCRASH_EINVALID_DATA = 9,
};

const char* drcrash_async_strerror(int error);

// Converts foreign 16-, 32- and 64-bit fields to host order.
struct drcrash_async_byteorder {
  std::uint16_t (*swap16)(std::uint16_t);
  std::uint32_t (*swap32)(std::uint32_t);
  std::uint64_t (*swap64)(std::uint64_t);
};
extern const drcrash_async_byteorder drcrash_async_byteorder_native;
extern const drcrash_async_byteorder drcrash_async_byteorder_swapped;

// address + offset without wrapping; false on overflow or underflow.
bool drcrash_async_address_apply_offset(std::uint64_t address, std::int64_t offset, std::uint64_t* result);

int drcrash_async_strcmp(const char* a, const char* b);
int drcrash_async_strncmp(const char* a, const char* b, std::size_t n);
void* drcrash_async_memcpy(void* dest, const void* source, std::size_t n);
void* drcrash_async_memset(void* dest, std::uint8_t value, std::size_t n);

// Leading bytes of `data` that form valid UTF-8 (a leading byte-order mark
// counts); stops at a NUL, a stray byte, a cut sequence or a bad continuation.
std::size_t drcrash_async_utf8_prefix_length(const char* data, std::size_t length);

}  // namespace crashreporter
