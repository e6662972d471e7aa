#include "crashreporter/Source/AsyncSupport.h"

namespace crashreporter {
namespace {

std::uint16_t same16(std::uint16_t v) { return v; }
std::uint32_t same32(std::uint32_t v) { return v; }
std::uint64_t same64(std::uint64_t v) { return v; }
std::uint16_t swap16(std::uint16_t v) { return __builtin_bswap16(v); }
std::uint32_t swap32(std::uint32_t v) { return __builtin_bswap32(v); }
std::uint64_t swap64(std::uint64_t v) { return __builtin_bswap64(v); }

}  // namespace

const drcrash_async_byteorder drcrash_async_byteorder_native = {same16, same32, same64};
const drcrash_async_byteorder drcrash_async_byteorder_swapped = {swap16, swap32, swap64};

const char* drcrash_async_strerror(int error) {
  switch (error) {
    case DRCRASH_ESUCCESS: return "No error";
    case DRCRASH_EUNKNOWN: return "Unknown error";
    case DRCRASH_OUTPUT_ERR: return "Output file can not be opened (or written to)";
    case DRCRASH_ENOMEM: return "No memory available";
    case DRCRASH_ENOTSUP: return "Operation not supported";
    case DRCRASH_EINVAL: return "Invalid argument";
    case DRCRASH_EINTERNAL: return "Internal error";
    case DRCRASH_EACCESS: return "Access denied";
    case DRCRASH_ENOTFOUND: return "Not found";
    case DRCRASH_EINVALID_DATA: return "The input data is in an unknown or invalid format.";
    default: return "Unhandled error code";
  }
}

bool drcrash_async_address_apply_offset(std::uint64_t address, std::int64_t offset, std::uint64_t* result) {
  std::uint64_t sum;
  if (offset >= 0) {
    if (__builtin_add_overflow(address, static_cast<std::uint64_t>(offset), &sum)) return false;
  } else {
    const std::uint64_t magnitude = 0 - static_cast<std::uint64_t>(offset);
    if (magnitude > address) return false;
    sum = address - magnitude;
  }
  *result = sum;
  return true;
}

int drcrash_async_strcmp(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const auto x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x != y || x == 0) return x - y;
  }
}

int drcrash_async_strncmp(const char* a, const char* b, std::size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    const auto x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x != y || x == 0) return x - y;
  }
  return 0;
}

void* drcrash_async_memcpy(void* dest, const void* source, std::size_t n) {
  auto* d = static_cast<volatile std::uint8_t*>(dest);  // volatile: no call to the library's memcpy
  const auto* s = static_cast<const std::uint8_t*>(source);
  for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
  return dest;
}

void* drcrash_async_memset(void* dest, std::uint8_t value, std::size_t n) {
  auto* d = static_cast<volatile std::uint8_t*>(dest);
  for (std::size_t i = 0; i < n; ++i) d[i] = value;
  return dest;
}

std::size_t drcrash_async_utf8_prefix_length(const char* data, std::size_t length) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  std::size_t i = 0;
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
  while (i < length) {
    const std::uint8_t lead = bytes[i];
    if (lead == 0) break;
    std::size_t count;
    if (lead < 0x80) count = 1;
    else if ((lead & 0xE0) == 0xC0) count = 2;
    else if ((lead & 0xF0) == 0xE0) count = 3;
    else if ((lead & 0xF8) == 0xF0) count = 4;
    else break;
    if (i + count > length) break;
    bool continuationOk = true;
    for (std::size_t k = 1; k < count; ++k) continuationOk = continuationOk && (bytes[i + k] & 0xC0) == 0x80;
    if (!continuationOk) break;
    i += count;
  }
  return i;
}

}  // namespace crashreporter
