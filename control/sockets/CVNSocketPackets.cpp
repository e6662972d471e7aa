#include "control/sockets/CVNSocketPackets.h"

#include <algorithm>
#include <cstring>

namespace control {

void CVNSocketPreBuffer::didRead(std::size_t count) {
  read_ += count;
  if (read_ == write_) read_ = write_ = 0;
}

void CVNSocketPreBuffer::ensureCapacityForWrite(std::size_t count) {
  if (availableSpace() < count) storage_.resize(storage_.size() + (count - availableSpace()));
}

CVNSocketReadPacket::CVNSocketReadPacket(SharedBytes callerBuffer, std::size_t offset, std::size_t max, double t,
                                         std::size_t length, Bytes terminator, std::int64_t packetTag)
    : maxLength(max), timeout(t), readLength(length), term(std::move(terminator)), tag(packetTag) {
  if (callerBuffer) {
    buffer = std::move(callerBuffer);
    startOffset = offset;
    bufferOwner = false;
    originalBufferLength = buffer->size();
  } else {
    buffer = std::make_shared<Bytes>();
    bufferOwner = true;
  }
}

std::size_t CVNSocketReadPacket::room() const {
  const std::size_t used = startOffset + bytesDone;
  return buffer->size() > used ? buffer->size() - used : 0;
}

void CVNSocketReadPacket::ensureCapacityForAdditionalDataOfLength(std::size_t length) {
  const std::size_t free = room();
  if (free < length) buffer->resize(buffer->size() + (length - free));
}

std::size_t CVNSocketReadPacket::readLengthForNonTermWithHint(std::size_t hint) const {
  if (readLength > 0) return std::min(readLength - bytesDone, hint);
  if (maxLength > 0) return std::min(hint, maxLength - bytesDone);
  return hint;
}

std::size_t CVNSocketReadPacket::readLengthForTermWithHint(std::size_t hint, bool& shouldPreBuffer) const {
  const std::size_t n = maxLength > 0 ? std::min(hint, maxLength - bytesDone) : hint;
  shouldPreBuffer = room() < n;
  return n;
}

std::size_t CVNSocketReadPacket::optimalReadLengthWithDefault(std::size_t defaultValue, bool& shouldPreBuffer) const {
  if (readLength > 0) {
    shouldPreBuffer = false;
    return readLength - bytesDone;
  }
  const std::size_t n = maxLength > 0 ? std::min(defaultValue, maxLength - bytesDone) : defaultValue;
  shouldPreBuffer = room() < n;
  return n;
}

std::size_t CVNSocketReadPacket::readLengthForTermWithPreBuffer(const CVNSocketPreBuffer& preBuffer, bool& found) const {
  const std::size_t T = term.size();
  const std::size_t P = preBuffer.availableBytes();
  found = false;
  if (bytesDone + P < T) return P;
  const std::size_t M = maxLength > 0 ? std::min(P, maxLength - bytesDone) : P;
  const std::uint8_t* pre = preBuffer.readBuffer();
  const std::uint8_t* held = buffer->data() + startOffset;
  // The terminator may straddle the packet's last bytes and the pre-buffer.
  std::size_t b = std::min(bytesDone, T - 1);
  for (; b > 0; --b) {
    if (T - b > M) continue;
    if (std::memcmp(held + bytesDone - b, term.data(), b) == 0 && std::memcmp(pre, term.data() + b, T - b) == 0) {
      found = true;
      return T - b;
    }
  }
  for (std::size_t k = 0; k + T <= M; ++k) {
    if (std::memcmp(pre + k, term.data(), T) == 0) {
      found = true;
      return k + T;
    }
  }
  return M;
}

std::ptrdiff_t CVNSocketReadPacket::searchForTermAfterPreBuffering(std::size_t count) const {
  const std::size_t T = term.size();
  const std::uint8_t* data = buffer->data() + startOffset;
  const std::size_t end = bytesDone + count;
  std::size_t i = bytesDone >= T - 1 ? bytesDone - (T - 1) : 0;
  for (; i + T <= end; ++i) {
    if (std::memcmp(data + i, term.data(), T) == 0) return static_cast<std::ptrdiff_t>(end - (i + T));
  }
  return -1;
}

}  // namespace control
