#pragma once
// The socket's queued requests and its read-ahead buffer. Internal to the
// socket classes (lives on the socket queue); declared here so the sizing rules
// can be tested on their own.

#include <cstddef>
#include <cstdint>
#include <variant>

#include "control/sockets/CVNSocketTypes.h"

namespace control {

// A growable byte area with a read and a write position. It never shrinks;
// unread bytes move back to the start only when a read empties it.
class CVNSocketPreBuffer {
 public:
  explicit CVNSocketPreBuffer(std::size_t capacity) : storage_(capacity) {}

  std::size_t availableBytes() const { return write_ - read_; }
  const std::uint8_t* readBuffer() const { return storage_.data() + read_; }
  void didRead(std::size_t count);
  std::size_t availableSpace() const { return storage_.size() - write_; }
  std::uint8_t* writeBuffer() { return storage_.data() + write_; }
  void didWrite(std::size_t count) { write_ += count; }
  void ensureCapacityForWrite(std::size_t count);
  void reset() { read_ = write_ = 0; }
  std::size_t size() const { return storage_.size(); }

 private:
  Bytes storage_;
  std::size_t read_ = 0;
  std::size_t write_ = 0;
};

struct CVNSocketReadPacket {
  // `buffer` null: the packet makes its own, growing it as bytes arrive (a
  // huge fixed length from a peer never allocates ahead of the bytes).
  CVNSocketReadPacket(SharedBytes buffer, std::size_t startOffset, std::size_t maxLength, double timeout,
                      std::size_t readLength, Bytes term, std::int64_t tag);

  // Grows the buffer so `length` more bytes fit after startOffset + bytesDone.
  void ensureCapacityForAdditionalDataOfLength(std::size_t length);
  std::size_t readLengthForNonTermWithHint(std::size_t hint) const;
  std::size_t readLengthForTermWithHint(std::size_t hint, bool& shouldPreBuffer) const;
  std::size_t optimalReadLengthWithDefault(std::size_t defaultValue, bool& shouldPreBuffer) const;
  // How many pre-buffered bytes to take; `found` when the terminator ends them.
  std::size_t readLengthForTermWithPreBuffer(const CVNSocketPreBuffer& preBuffer, bool& found) const;
  // After `count` bytes were added at bytesDone: the bytes that follow the
  // terminator (0 when it ends them), or -1 without a terminator.
  std::ptrdiff_t searchForTermAfterPreBuffering(std::size_t count) const;
  // Room after startOffset + bytesDone.
  std::size_t room() const;
  std::uint8_t* writePosition() { return buffer->data() + startOffset + bytesDone; }

  SharedBytes buffer;
  std::size_t startOffset = 0;
  std::size_t bytesDone = 0;
  std::size_t maxLength = 0;
  double timeout = -1;
  std::size_t readLength = 0;
  Bytes term;
  bool bufferOwner = false;
  std::size_t originalBufferLength = 0;
  std::int64_t tag = 0;
};

struct CVNSocketWritePacket {
  ConstBytes buffer;
  std::size_t bytesDone = 0;
  std::int64_t tag = 0;
  double timeout = -1;
};

// Stands in both queues where TLS starts.
struct CVNSocketSpecialPacket {
  platform::Dictionary tlsSettings;
};

}  // namespace control
