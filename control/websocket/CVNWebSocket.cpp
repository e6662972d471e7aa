#include "control/websocket/CVNWebSocket.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

namespace control {
namespace {

// Frames gathered for one socket write at most (a bigger frame goes alone).
constexpr std::size_t kGatherLimit = 64 * 1024;

// OpenSSL would free its global state at exit while the pool's threads, which
// never end, still hold per-thread state of its generator and digests: keep it
// until the process is gone.
[[maybe_unused]] const bool kCryptoKeptUntilExit = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

// destination[i] = source[i] XOR key[i mod 4], eight bytes at a time: masking
// byte by byte was a large share of a big message's cost.
void copyMasked(std::uint8_t* destination, const std::uint8_t* source, std::size_t count, const std::uint8_t* key) {
  std::uint8_t pattern[8];
  for (int i = 0; i < 8; ++i) pattern[i] = key[i % 4];
  std::uint64_t word;
  std::memcpy(&word, pattern, sizeof word);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, source + i, sizeof chunk);
    chunk ^= word;
    std::memcpy(destination + i, &chunk, sizeof chunk);
  }
  for (; i < count; ++i) destination[i] = source[i] ^ key[i % 4];
}

void appendFrame(Bytes& out, std::span<const std::uint8_t> payload, std::uint64_t frameType,
                 const std::uint8_t* maskKey) {
  const std::uint64_t n = payload.size();
  // Geometric growth: frames gathered one by one must not reallocate each time.
  if (const std::size_t needed = out.size() + n + 14; out.capacity() < needed) {
    out.reserve(std::max(needed, 2 * out.capacity()));
  }
  const bool control = frameType == CVNWebSocket::Close || frameType == CVNWebSocket::Ping ||
                       frameType == CVNWebSocket::Pong;
  out.push_back(static_cast<std::uint8_t>(control ? 0x80 + frameType : 0x81));
  const std::uint8_t maskBit = maskKey ? 0x80 : 0x00;
  if (n <= 125) {
    out.push_back(static_cast<std::uint8_t>(maskBit | n));
  } else if (n <= 65535) {
    out.push_back(maskBit | 126);
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n));
  } else {
    out.push_back(maskBit | 127);
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(n >> shift));
  }
  if (maskKey) out.insert(out.end(), maskKey, maskKey + 4);
  const std::size_t start = out.size();
  out.insert(out.end(), payload.begin(), payload.end());
  if (maskKey) copyMasked(out.data() + start, out.data() + start, n, maskKey);
}

}  // namespace

CVNWebSocket::~CVNWebSocket() = default;

Bytes CVNWebSocket::frame(std::span<const std::uint8_t> payload, std::uint64_t frameType, const std::uint8_t* maskKey) {
  Bytes out;
  appendFrame(out, payload, frameType, maskKey);
  return out;
}

void CVNWebSocket::sendData(std::span<const std::uint8_t> data, std::uint64_t frameType) {
  if (!socket_) return;
  bool queueFlush;
  {
    std::lock_guard guard(outgoingMutex_);
    const std::uint8_t* key = nullptr;
    if (useMask_) {
      // Keys come from the strong generator a batch at a time: asking it for
      // four bytes per message cost a system call each.
      if (maskKeysUsed_ == sizeof maskKeys_) {
        if (RAND_bytes(maskKeys_, sizeof maskKeys_) != 1) return;
        maskKeysUsed_ = 0;
      }
      key = maskKeys_ + maskKeysUsed_;
      maskKeysUsed_ += 4;
    }
    appendFrame(outgoing_, data, frameType, key);
    // A full buffer goes at once: gathering big messages would only copy
    // them into ever larger fresh buffers.
    if (outgoing_.size() >= kGatherLimit) {
      handOverLocked();
      return;
    }
    queueFlush = !std::exchange(flushQueued_, true);
  }
  if (!queueFlush) return;
  std::weak_ptr<CVNWebSocket> weak = weak_from_this();
  const bool queued = socketQueue_ && socketQueue_->async([weak] {
    if (auto self = weak.lock()) self->flushOutgoing();
  });
  if (!queued) flushOutgoing();
}

void CVNWebSocket::flushOutgoing() {
  std::lock_guard guard(outgoingMutex_);
  flushQueued_ = false;
  handOverLocked();
}

void CVNWebSocket::handOverLocked() {
  if (outgoing_.empty()) return;
  // Under the lock, so that buffers taken by different threads reach the socket in order.
  if (socket_) socket_->writeData(std::make_shared<const Bytes>(std::move(outgoing_)), -1, 0);
  outgoing_ = Bytes();
}

void CVNWebSocket::handleReceivedData(const CVNSocketData&) {}

void CVNWebSocket::readNextFrame() {
  step_ = Step::Opcode;
  pending_.clear();
  closing_ = false;
  readOutstanding_ = false;  // a new connection
  readMore();
}

void CVNWebSocket::readMore() {
  if (!socket_ || closing_ || readOutstanding_ || readingPaused_.load()) return;
  readOutstanding_ = true;
  socket_->readDataWithTimeout(-1, kFrameBytes);
}

void CVNWebSocket::resumeReading() {
  readingPaused_.store(false);
  if (!socketQueue_) return;
  std::weak_ptr<CVNWebSocket> weak = weak_from_this();
  socketQueue_->async([weak] {
    auto self = weak.lock();
    if (!self || self->readingPaused_.load() || self->readOutstanding_ || self->closing_) return;
    // Bytes read before the pause come first.
    if (!self->pending_.empty() && self->pending_.size() >= self->bytesForStep()) return self->takePendingSteps();
    self->readMore();
  });
}

void CVNWebSocket::closeWithStatus(std::optional<std::uint16_t> code) {
  if (!socket_) return;
  closing_ = true;
  Bytes payload;
  if (code) payload = {static_cast<std::uint8_t>(*code >> 8), static_cast<std::uint8_t>(*code)};
  sendData(payload, Close);
  // Before the disconnect request, which refuses later writes.
  flushOutgoing();
  socket_->disconnectAfterWriting();
}

void CVNWebSocket::socketDidReadData(const std::shared_ptr<CVNSocket>&, const CVNSocketData& data, std::int64_t tag) {
  if (tag != kFrameBytes || closing_) return;
  readOutstanding_ = false;
  // Steps read straight from the socket's bytes; only a step split across reads is gathered first.
  if (pending_.empty()) return takeSteps(data);
  pending_.insert(pending_.end(), data.data(), data.data() + data.size());
  if (pending_.size() < bytesForStep()) return readMore();
  takePendingSteps();
}

void CVNWebSocket::takePendingSteps() {
  const std::size_t size = pending_.size();
  const CVNSocketData input(std::make_shared<const Bytes>(std::move(pending_)), 0, size);
  pending_ = Bytes();
  takeSteps(input);
}

void CVNWebSocket::takeSteps(const CVNSocketData& input) {
  // Every whole step the bytes allow, then ask for more: one read serves many frames.
  std::size_t offset = 0;
  while (!closing_ && !readingPaused_.load()) {
    const std::size_t needed = bytesForStep();
    if (input.size() - offset < needed) break;
    takeStep(input, offset, needed);
    offset += needed;
  }
  pending_.assign(input.data() + offset, input.data() + input.size());
  readMore();
}

std::size_t CVNWebSocket::bytesForStep() const {
  switch (step_) {
    case Step::Opcode:
    case Step::Length:
      return 1;
    case Step::ExtendedLength:
      return payloadLength_ == 126 ? 2 : 8;
    case Step::Mask:
      return 4;
    case Step::Payload:
      return static_cast<std::size_t>(payloadLength_);
  }
  return 1;
}

void CVNWebSocket::takeStep(const CVNSocketData& input, std::size_t offset, std::size_t count) {
  const std::uint8_t* bytes = input.data() + offset;
  switch (step_) {
    case Step::Opcode:
      return readOpcode(bytes[0]);
    case Step::Length:
      return readLength(bytes[0]);
    case Step::ExtendedLength:
      return readExtendedLength(bytes, count);
    case Step::Mask:
      std::copy(bytes, bytes + 4, payloadMask_);
      if (payloadLength_ == 0) return answerEmptyControlFrame();
      step_ = Step::Payload;
      return;
    case Step::Payload:
      return readPayload(input.slice(offset, count));
  }
}

void CVNWebSocket::readOpcode(std::uint8_t byte) {
  const bool fin = byte & 0x80;
  const bool reserved = byte & 0x70;
  frameType_ = byte & 0x0F;
  if (reserved) return closeWithStatus(ProtocolError);
  switch (frameType_) {
    case Text:
    case Close:
    case Ping:
    case Pong:
      break;
    case Continuation:
    case Binary:
      return closeWithStatus(UnsupportedData);
    default:
      return closeWithStatus(ProtocolError);
  }
  // Fragmented messages are not carried; a fragmented control frame is not even valid.
  if (!fin) return closeWithStatus(frameType_ == Text ? UnsupportedData : ProtocolError);
  if (frameType_ == Pong) receivedPong_.store(true);
  step_ = Step::Length;
}

void CVNWebSocket::readLength(std::uint8_t byte) {
  hasMask_ = byte & 0x80;
  payloadLength_ = byte & 0x7F;
  // The server side (no masking of its own) takes masked frames only, the client unmasked only.
  if (hasMask_ == useMask_) return closeWithStatus(ProtocolError);
  const bool control = frameType_ >= Close;
  if (control && payloadLength_ > 125) return closeWithStatus(ProtocolError);
  if (payloadLength_ >= 126) {
    step_ = Step::ExtendedLength;
    return;
  }
  afterLength();
}

void CVNWebSocket::readExtendedLength(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < count; ++i) length = (length << 8) | bytes[i];
  payloadLength_ = length;
  afterLength();
}

void CVNWebSocket::afterLength() {
  // Refused before any of the payload is kept.
  if (payloadLength_ > maximumMessageLength_.load()) return closeWithStatus(MessageTooBig);
  if (hasMask_) {
    step_ = Step::Mask;
    return;
  }
  if (payloadLength_ == 0) return answerEmptyControlFrame();
  step_ = Step::Payload;
}

void CVNWebSocket::answerEmptyControlFrame() {
  step_ = Step::Opcode;
  if (frameType_ == Ping) sendData(std::span<const std::uint8_t>(), Pong);
  if (frameType_ == Close) closeWithStatus(std::nullopt);
}

void CVNWebSocket::readPayload(const CVNSocketData& data) {
  step_ = Step::Opcode;
  CVNSocketData payload = data;
  if (hasMask_) {
    Bytes unmasked(data.size());
    copyMasked(unmasked.data(), data.data(), data.size(), payloadMask_);
    const std::size_t size = unmasked.size();
    payload = CVNSocketData(std::make_shared<const Bytes>(std::move(unmasked)), 0, size);
  }
  switch (frameType_) {
    case Ping:
      sendData(std::span(payload.data(), payload.size()), Pong);
      break;
    case Close: {
      std::optional<std::uint16_t> code;
      if (payload.size() >= 2) code = static_cast<std::uint16_t>((payload.data()[0] << 8) | payload.data()[1]);
      closeWithStatus(code);
      break;
    }
    case Text:
      if (!payload.empty()) handleReceivedData(payload);
      break;
    default:
      break;
  }
}

}  // namespace control
