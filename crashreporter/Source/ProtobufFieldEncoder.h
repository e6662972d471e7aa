#pragma once
// drcrash_writer_pack: writes one field of the report message in the binary
// wire format, or only measures it. The crash-time writer runs every nested
// message twice, first without output to learn its length, so it never buffers
// or seeks. Async-signal-safe: no allocation, no library calls but write(2)
// through the file output.

#include <cstddef>
#include <cstdint>

#include "crashreporter/Source/AsyncFileOutput.h"

namespace crashreporter {

// The schema types the encoder knows; the numbers are fixed.
enum drcrash_protobuf_type : std::uint32_t {
  DRCRASH_PROTOBUF_TYPE_INT32 = 0,
  DRCRASH_PROTOBUF_TYPE_SINT32 = 1,
  DRCRASH_PROTOBUF_TYPE_SFIXED32 = 2,
  DRCRASH_PROTOBUF_TYPE_INT64 = 3,
  DRCRASH_PROTOBUF_TYPE_SINT64 = 4,
  DRCRASH_PROTOBUF_TYPE_SFIXED64 = 5,
  DRCRASH_PROTOBUF_TYPE_UINT32 = 6,
  DRCRASH_PROTOBUF_TYPE_FIXED32 = 7,
  DRCRASH_PROTOBUF_TYPE_UINT64 = 8,
  DRCRASH_PROTOBUF_TYPE_FIXED64 = 9,
  DRCRASH_PROTOBUF_TYPE_FLOAT = 10,
  DRCRASH_PROTOBUF_TYPE_DOUBLE = 11,
  DRCRASH_PROTOBUF_TYPE_BOOL = 12,
  DRCRASH_PROTOBUF_TYPE_ENUM = 13,
  DRCRASH_PROTOBUF_TYPE_STRING = 14,   // value: const char*, NUL-terminated
  DRCRASH_PROTOBUF_TYPE_BYTES = 15,    // value: const drcrash_protobuf_bytes*
  DRCRASH_PROTOBUF_TYPE_MESSAGE = 16,  // value: const uint32_t* length; tag and length only
};

struct drcrash_protobuf_bytes {
  std::size_t len;
  const void* data;
};

// Writes field `field_id` of `type` whose value `value` points at (an int32_t
// for INT32, a uint64_t for UINT64, a bool for BOOL, ...) to `file`, or only
// measures when `file` is null. Returns the bytes the field takes. A write the
// file refuses is dropped; the caller sees it when the file is closed. A type
// number above 16 is a programming error and aborts.
std::size_t drcrash_writer_pack(drcrash_async_file* file, std::uint32_t field_id, std::uint32_t type,
                                const void* value);

// The varint form of `value` into `out` (at least 10 bytes); its length.
std::size_t drcrash_encode_varint(std::uint64_t value, std::uint8_t* out);

}  // namespace crashreporter
