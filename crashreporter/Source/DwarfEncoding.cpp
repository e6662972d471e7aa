#include "crashreporter/Source/DwarfEncoding.h"

namespace crashreporter::drcrash::async {
namespace {

template <typename Read>
drcrash_error_t leb128(Read readByte, std::uint64_t* value, std::uint64_t* size, unsigned* finalShift,
                       std::uint8_t* lastByte) {
  std::uint64_t result = 0;
  unsigned shift = 0;
  std::uint64_t count = 0;
  for (;;) {
    std::uint8_t byte;
    if (readByte(count, &byte) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    ++count;
    if (shift >= 64) return DRCRASH_ENOTSUP;
    result |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    shift += 7;
    if ((byte & 0x80) == 0) {
      *lastByte = byte;
      break;
    }
    if (shift >= 64) return DRCRASH_ENOTSUP;  // another byte would not fit
  }
  *value = result;
  *size = count;
  *finalShift = shift;
  return DRCRASH_ESUCCESS;
}

std::int64_t extendSign(std::uint64_t value, unsigned shift, std::uint8_t lastByte) {
  if (shift < 64 && (lastByte & 0x40)) value |= ~std::uint64_t{0} << shift;
  return static_cast<std::int64_t>(value);
}

}  // namespace

drcrash_error_t read_uleb128(drcrash_async_mobject* mobj, std::uint64_t location, std::int64_t offset,
                             std::uint64_t* result, std::uint64_t* size) {
  unsigned shift;
  std::uint8_t last;
  return leb128([&](std::uint64_t i, std::uint8_t* b) {
    return drcrash_async_mobject_read_uint8(mobj, location, offset + static_cast<std::int64_t>(i), b);
  }, result, size, &shift, &last);
}

drcrash_error_t read_sleb128(drcrash_async_mobject* mobj, std::uint64_t location, std::int64_t offset,
                             std::int64_t* result, std::uint64_t* size) {
  unsigned shift;
  std::uint8_t last;
  std::uint64_t value;
  const drcrash_error_t error = leb128([&](std::uint64_t i, std::uint8_t* b) {
    return drcrash_async_mobject_read_uint8(mobj, location, offset + static_cast<std::int64_t>(i), b);
  }, &value, size, &shift, &last);
  if (error == DRCRASH_ESUCCESS) *result = extendSign(value, shift, last);
  return error;
}

drcrash_error_t read_task_uleb128(std::uint64_t address, std::int64_t offset, std::uint64_t* result, std::uint64_t* size) {
  std::uint64_t at;
  if (!drcrash_async_address_apply_offset(address, offset, &at)) return DRCRASH_EINVAL;
  drcrash_async_mobject mobj;
  if (drcrash_async_mobject_init(&mobj, at, 4096, false) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  return read_uleb128(&mobj, at, 0, result, size);
}

drcrash_error_t read_task_sleb128(std::uint64_t address, std::int64_t offset, std::int64_t* result, std::uint64_t* size) {
  std::uint64_t at;
  if (!drcrash_async_address_apply_offset(address, offset, &at)) return DRCRASH_EINVAL;
  drcrash_async_mobject mobj;
  if (drcrash_async_mobject_init(&mobj, at, 4096, false) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  return read_sleb128(&mobj, at, 0, result, size);
}

drcrash_error_t DwarfInstructionCursor::uleb(std::uint64_t* out) const {
  std::uint64_t size;
  const drcrash_error_t error = read_uleb128(mobj, pc, 0, out, &size);
  if (error != DRCRASH_ESUCCESS) return error;
  if (pc + size > end) return DRCRASH_EINVAL;
  pc += size;
  return DRCRASH_ESUCCESS;
}

drcrash_error_t DwarfInstructionCursor::sleb(std::int64_t* out) const {
  std::uint64_t size;
  const drcrash_error_t error = read_sleb128(mobj, pc, 0, out, &size);
  if (error != DRCRASH_ESUCCESS) return error;
  if (pc + size > end) return DRCRASH_EINVAL;
  pc += size;
  return DRCRASH_ESUCCESS;
}

}  // namespace crashreporter::drcrash::async
