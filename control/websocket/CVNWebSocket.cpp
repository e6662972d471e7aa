#include "control/websocket/CVNWebSocket.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace control {
namespace {

// OpenSSL would free its global state at exit while the pool's threads, which
// never end, still hold per-thread state of its generator and digests: keep it
// until the process is gone.
[[maybe_unused]] const bool kCryptoKeptUntilExit = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

}  // namespace

CVNWebSocket::~CVNWebSocket() = default;

Bytes CVNWebSocket::frame(std::span<const std::uint8_t> payload, std::uint64_t frameType, const std::uint8_t* maskKey) {
  Bytes out;
  const std::uint64_t n = payload.size();
  out.reserve(n + 14);
  const bool control = frameType == Close || frameType == Ping || frameType == Pong;
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
  if (maskKey) {
    out.insert(out.end(), maskKey, maskKey + 4);
    const std::size_t start = out.size();
    out.insert(out.end(), payload.begin(), payload.end());
    for (std::size_t i = 0; i < n; ++i) out[start + i] ^= maskKey[i % 4];
  } else {
    out.insert(out.end(), payload.begin(), payload.end());
  }
  return out;
}

void CVNWebSocket::sendData(std::span<const std::uint8_t> data, std::uint64_t frameType) {
  if (!socket_) return;
  std::uint8_t key[4];
  if (useMask_ && RAND_bytes(key, sizeof key) != 1) return;
  socket_->writeData(std::make_shared<const Bytes>(frame(data, frameType, useMask_ ? key : nullptr)), -1, 0);
}

void CVNWebSocket::handleReceivedData(const CVNSocketData&) {}

void CVNWebSocket::readNextFrame() {
  if (socket_) socket_->readDataToLength(1, -1, kOpcode);
}

void CVNWebSocket::closeWithStatus(std::optional<std::uint16_t> code) {
  if (!socket_) return;
  Bytes payload;
  if (code) payload = {static_cast<std::uint8_t>(*code >> 8), static_cast<std::uint8_t>(*code)};
  sendData(payload, Close);
  socket_->disconnectAfterWriting();
}

void CVNWebSocket::socketDidReadData(const std::shared_ptr<CVNSocket>&, const CVNSocketData& data, std::int64_t tag) {
  switch (tag) {
    case kOpcode:
      readOpcode(data.data()[0]);
      break;
    case kLength:
      readLength(data.data()[0]);
      break;
    case kExtendedLength:
      readExtendedLength(data);
      break;
    case kMask:
      std::copy(data.data(), data.data() + 4, payloadMask_);
      if (payloadLength_ == 0) {
        answerEmptyControlFrame();
      } else {
        socket_->readDataToLength(payloadLength_, -1, kPayload);
      }
      break;
    case kPayload:
      readPayload(data);
      break;
    default:
      break;
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
  socket_->readDataToLength(1, -1, kLength);
}

void CVNWebSocket::readLength(std::uint8_t byte) {
  hasMask_ = byte & 0x80;
  payloadLength_ = byte & 0x7F;
  // The server side (no masking of its own) takes masked frames only, the client unmasked only.
  if (hasMask_ == useMask_) return closeWithStatus(ProtocolError);
  const bool control = frameType_ >= Close;
  if (control && payloadLength_ > 125) return closeWithStatus(ProtocolError);
  if (payloadLength_ == 126) return socket_->readDataToLength(2, -1, kExtendedLength);
  if (payloadLength_ == 127) return socket_->readDataToLength(8, -1, kExtendedLength);
  afterLength();
}

void CVNWebSocket::readExtendedLength(const CVNSocketData& data) {
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < data.size(); ++i) length = (length << 8) | data.data()[i];
  payloadLength_ = length;
  afterLength();
}

void CVNWebSocket::afterLength() {
  // Refused before any buffer is made for it.
  if (payloadLength_ > maximumMessageLength_.load()) return closeWithStatus(MessageTooBig);
  if (hasMask_) return socket_->readDataToLength(4, -1, kMask);
  if (payloadLength_ == 0) return answerEmptyControlFrame();
  socket_->readDataToLength(payloadLength_, -1, kPayload);
}

void CVNWebSocket::answerEmptyControlFrame() {
  if (frameType_ == Ping) sendData(std::span<const std::uint8_t>(), Pong);
  if (frameType_ == Close) return closeWithStatus(std::nullopt);
  readNextFrame();
}

void CVNWebSocket::readPayload(const CVNSocketData& data) {
  CVNSocketData payload = data;
  if (hasMask_) {
    Bytes unmasked = data.copy();
    for (std::size_t i = 0; i < unmasked.size(); ++i) unmasked[i] ^= payloadMask_[i % 4];
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
      return closeWithStatus(code);
    }
    case Text:
      if (!payload.empty()) handleReceivedData(payload);
      break;
    default:
      break;
  }
  readNextFrame();
}

}  // namespace control
