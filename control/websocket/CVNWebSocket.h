#pragma once
// CVNWebSocket: WebSocket framing (protocol version 13) over one CVNSocket.
// Writes text, ping, pong and close frames; reads frames in five steps
// (opcode, length, extended length, mask, payload) from whatever bytes each
// read brings, answering pings and close frames itself. Only whole text messages are carried: a fragment, a binary
// frame or a reserved opcode ends the connection after a close frame.
//
// Held by shared_ptr; it is its socket's delegate (the socket holds it
// weakly). Reading, the automatic answers and handleReceivedData run on the
// socket's delegate queue (socketQueue); sendData may be called from any
// thread: frames gather in an outgoing buffer that one task on socketQueue
// hands to the socket, so a burst of messages costs one write, not one each.
//
// Limits on hostile peers: a payload longer than maximumMessageLength (16 MiB
// by default) is refused with close code 1009 before any buffer is made; a
// control frame above 125 bytes with 1002. A server takes only masked frames
// and a client only unmasked ones (else 1002).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

#include "control/sockets/CVNSocket.h"

namespace control {

class CVNWebSocket : public CVNSocketDelegate, public std::enable_shared_from_this<CVNWebSocket> {
 public:
  enum FrameType : std::uint64_t { Continuation = 0, Text = 1, Binary = 2, Close = 8, Ping = 9, Pong = 10 };
  enum CloseCode : std::uint16_t { ProtocolError = 1002, UnsupportedData = 1003, MessageTooBig = 1009 };
  static constexpr std::size_t kDefaultMaximumMessageLength = 16 * 1024 * 1024;

  ~CVNWebSocket() override;

  void sendData(std::span<const std::uint8_t> data) { sendData(data, Text); }
  void sendData(std::string_view text) { sendData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), Text); }
  void sendData(std::span<const std::uint8_t> data, std::uint64_t frameType);
  // A payload of each complete, non-empty text frame; on socketQueue.
  virtual void handleReceivedData(const CVNSocketData& payload);

  std::size_t maximumMessageLength() const { return maximumMessageLength_.load(); }
  void setMaximumMessageLength(std::size_t length) { maximumMessageLength_.store(length); }
  bool receivedPong() const { return receivedPong_.load(); }
  void setReceivedPong(bool value) { receivedPong_.store(value); }
  const std::shared_ptr<CVNSocket>& socket() const { return socket_; }
  // The queue reading, the automatic answers and handleReceivedData run on.
  const std::shared_ptr<platform::DispatchQueue>& socketQueue() const { return socketQueue_; }

  // Paused, no frame is taken and nothing more is read: the peer is held back
  // by the connection itself, and what was read waits for the resume, in
  // order. Any thread; the pause takes effect between two steps of a frame.
  void pauseReading() { readingPaused_.store(true); }
  void resumeReading();
  bool isReadingPaused() const { return readingPaused_.load(); }

  // One frame: header (0x80 + type for close, ping and pong; 0x81 otherwise),
  // the length in its three forms, with `maskKey` the key and masked payload.
  static Bytes frame(std::span<const std::uint8_t> payload, std::uint64_t frameType, const std::uint8_t* maskKey);

  void socketDidReadData(const std::shared_ptr<CVNSocket>& socket, const CVNSocketData& data, std::int64_t tag) override;
  // Frames need no word of their writes' progress.
  bool wantsWriteProgressForTag(std::int64_t) const override { return false; }

 protected:
  CVNWebSocket() = default;
  // Step 1 of the reader.
  void readNextFrame();
  // Sends a close frame with `code` (none: empty) and disconnects after writing.
  void closeWithStatus(std::optional<std::uint16_t> code);

  std::shared_ptr<CVNSocket> socket_;
  std::shared_ptr<platform::DispatchQueue> socketQueue_;
  bool useMask_ = false;

 private:
  // The five steps of a frame, taken from the bytes read so far.
  enum class Step { Opcode, Length, ExtendedLength, Mask, Payload };
  static constexpr std::int64_t kFrameBytes = 101;
  void readMore();
  void takeSteps(const CVNSocketData& input);
  void takePendingSteps();
  std::size_t bytesForStep() const;
  void takeStep(const CVNSocketData& input, std::size_t offset, std::size_t count);
  void readOpcode(std::uint8_t byte);
  void readLength(std::uint8_t byte);
  void readExtendedLength(const std::uint8_t* bytes, std::size_t count);
  void afterLength();
  void readPayload(const CVNSocketData& data);
  void answerEmptyControlFrame();
  // Hands the gathered frames to the socket in one write.
  void flushOutgoing();
  void handOverLocked();

  Step step_ = Step::Opcode;
  Bytes pending_;             // read, not yet taken by a step
  bool closing_ = false;      // a close frame went out: nothing more is read
  bool readOutstanding_ = false;  // a frame read is queued on the socket
  std::uint64_t payloadLength_ = 0;
  std::uint64_t frameType_ = 0;
  bool hasMask_ = false;
  std::uint8_t payloadMask_[4] = {};
  std::atomic<bool> receivedPong_{false};
  std::atomic<bool> readingPaused_{false};
  std::atomic<std::size_t> maximumMessageLength_{kDefaultMaximumMessageLength};
  std::mutex outgoingMutex_;
  Bytes outgoing_;            // guarded by outgoingMutex_: frames not yet handed to the socket
  bool flushQueued_ = false;  // guarded by outgoingMutex_
  std::uint8_t maskKeys_[256] = {};                  // guarded by outgoingMutex_
  std::size_t maskKeysUsed_ = sizeof maskKeys_;      // guarded by outgoingMutex_
};

}  // namespace control
