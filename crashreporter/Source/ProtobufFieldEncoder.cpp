#include "crashreporter/Source/ProtobufFieldEncoder.h"

#include <cstdlib>
#include <cstring>

namespace crashreporter {
namespace {

enum WireType : std::uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

// Longest field head: a 5-byte tag and a 10-byte varint (or 8 fixed bytes).
constexpr std::size_t kMaxHeadBytes = 15;

std::size_t varintSize(std::uint64_t value) {
  return (64 - static_cast<std::size_t>(__builtin_clzll(value | 1)) + 6) / 7;
}

std::uint64_t load64(const void* value) {
  std::uint64_t v;
  std::memcpy(&v, value, sizeof v);
  return v;
}

std::uint32_t load32(const void* value) {
  std::uint32_t v;
  std::memcpy(&v, value, sizeof v);
  return v;
}

// One field's head (tag and scalar value, or tag and length) is assembled on
// the stack and handed to the output in one write; when only measuring, just
// its size is computed.
class FieldHead {
 public:
  FieldHead(drcrash_async_file* file, std::uint32_t fieldId, WireType wireType) : file_(file) {
    const std::uint64_t tag = (static_cast<std::uint64_t>(fieldId) << 3) | wireType;
    if (file_ == nullptr) {
      length_ = varintSize(tag);
    } else {
      length_ = drcrash_encode_varint(tag, bytes_);
    }
  }

  void varint(std::uint64_t value) {
    if (file_ == nullptr) {
      length_ += varintSize(value);
    } else {
      length_ += drcrash_encode_varint(value, bytes_ + length_);
    }
  }

  void littleEndian(std::uint64_t value, std::size_t width) {
    if (file_ != nullptr) {
      for (std::size_t i = 0; i < width; ++i) bytes_[length_ + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    length_ += width;
  }

  // Writes the head and then `payload`; the field's whole size.
  std::size_t finish(const void* payload = nullptr, std::size_t payloadLength = 0) {
    if (file_ != nullptr) {
      drcrash_async_file_write(file_, bytes_, length_);
      if (payloadLength > 0) drcrash_async_file_write(file_, payload, payloadLength);
    }
    return length_ + payloadLength;
  }

 private:
  drcrash_async_file* file_;
  std::size_t length_ = 0;
  std::uint8_t bytes_[kMaxHeadBytes];
};

}  // namespace

std::size_t drcrash_encode_varint(std::uint64_t value, std::uint8_t* out) {
  std::size_t length = 0;
  while (value >= 0x80) {
    out[length++] = static_cast<std::uint8_t>(value | 0x80);
    value >>= 7;
  }
  out[length++] = static_cast<std::uint8_t>(value);
  return length;
}

std::size_t drcrash_writer_pack(drcrash_async_file* file, std::uint32_t field_id, std::uint32_t type,
                                const void* value) {
  switch (type) {
    case DRCRASH_PROTOBUF_TYPE_INT32: {
      // A negative int32 is sign-extended to 64 bits, hence ten bytes.
      FieldHead head(file, field_id, kVarint);
      const auto v = static_cast<std::int32_t>(load32(value));
      head.varint(static_cast<std::uint64_t>(static_cast<std::int64_t>(v)));
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_SINT32: {
      FieldHead head(file, field_id, kVarint);
      const auto v = static_cast<std::int32_t>(load32(value));
      head.varint((static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v >> 31));
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_SINT64: {
      FieldHead head(file, field_id, kVarint);
      const auto v = static_cast<std::int64_t>(load64(value));
      head.varint((static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63));
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_INT64:
    case DRCRASH_PROTOBUF_TYPE_UINT64: {
      FieldHead head(file, field_id, kVarint);
      head.varint(load64(value));
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_UINT32:
    case DRCRASH_PROTOBUF_TYPE_ENUM: {
      FieldHead head(file, field_id, kVarint);
      head.varint(load32(value));
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_BOOL: {
      FieldHead head(file, field_id, kVarint);
      bool b;
      std::memcpy(&b, value, sizeof b);
      head.varint(b ? 1 : 0);
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_SFIXED32:
    case DRCRASH_PROTOBUF_TYPE_FIXED32:
    case DRCRASH_PROTOBUF_TYPE_FLOAT: {
      FieldHead head(file, field_id, kFixed32);
      head.littleEndian(load32(value), 4);
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_SFIXED64:
    case DRCRASH_PROTOBUF_TYPE_FIXED64:
    case DRCRASH_PROTOBUF_TYPE_DOUBLE: {
      FieldHead head(file, field_id, kFixed64);
      head.littleEndian(load64(value), 8);
      return head.finish();
    }
    case DRCRASH_PROTOBUF_TYPE_STRING: {
      FieldHead head(file, field_id, kLengthDelimited);
      const char* text = static_cast<const char*>(value);
      const std::size_t length = std::strlen(text);
      head.varint(static_cast<std::uint32_t>(length));
      return head.finish(text, length);
    }
    case DRCRASH_PROTOBUF_TYPE_BYTES: {
      FieldHead head(file, field_id, kLengthDelimited);
      const auto* bytes = static_cast<const drcrash_protobuf_bytes*>(value);
      head.varint(static_cast<std::uint32_t>(bytes->len));
      return head.finish(bytes->data, bytes->len);
    }
    case DRCRASH_PROTOBUF_TYPE_MESSAGE: {
      FieldHead head(file, field_id, kLengthDelimited);
      head.varint(load32(value));
      return head.finish();
    }
    default:
      // Only the writer calls this, with constants; anything else is a bug.
      std::abort();
  }
}

}  // namespace crashreporter
