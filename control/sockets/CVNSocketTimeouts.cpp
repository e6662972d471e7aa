// Time-outs of the current read and write: when one expires the direction
// pauses and the delegate may grant more time; without it the socket closes.
#include "control/sockets/CVNSocket.h"
#include "control/sockets/CVNSocketInternal.h"

namespace control {
namespace {

// What a time-out needs from the current packet of either kind.
struct TimedPacket {
  double* timeout = nullptr;  // summed time allowed so far
  std::int64_t tag = 0;
  std::size_t bytesDone = 0;
};

template <typename Packet>
TimedPacket timedPacket(Packet* packet) {
  if (!packet) return {};
  return {&packet->timeout, packet->tag, packet->bytesDone};
}

}  // namespace

void CVNSocket::startPacketTimer(PacketKind kind, double timeout) {
  if (timeout < 0) return;
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  (kind == PacketKind::Read ? readTimer_ : writeTimer_) =
      socketQueue_->after(detail::seconds(timeout), [weak, kind] {
        if (auto self = weak.lock()) self->doPacketTimeout(kind);
      });
}

void CVNSocket::doPacketTimeout(PacketKind kind) {
  const bool reading = kind == PacketKind::Read;
  flags_ |= reading ? kReadsPaused : kWritesPaused;
  const TimedPacket packet = reading ? timedPacket(currentReadPacket()) : timedPacket(currentWritePacket());
  auto delegate = delegate_.lock();
  if (!packet.timeout || !delegate || !delegateQueue_) {
    doPacketTimeoutWithExtension(kind, 0);
    return;
  }
  const double elapsed = *packet.timeout;
  const std::int64_t tag = packet.tag;
  const std::size_t bytesDone = packet.bytesDone;
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  delegateQueue_->async([delegate, self = shared_from_this(), weak, kind, tag, elapsed, bytesDone, queue = socketQueue_] {
    const auto answer = kind == PacketKind::Read
                            ? delegate->socketShouldTimeoutReadWithTag(self, tag, elapsed, bytesDone)
                            : delegate->socketShouldTimeoutWriteWithTag(self, tag, elapsed, bytesDone);
    queue->async([weak, kind, extension = answer.value_or(0)] {
      if (auto s = weak.lock()) s->doPacketTimeoutWithExtension(kind, extension);
    });
  });
}

void CVNSocket::doPacketTimeoutWithExtension(PacketKind kind, double extension) {
  const bool reading = kind == PacketKind::Read;
  const TimedPacket packet = reading ? timedPacket(currentReadPacket()) : timedPacket(currentWritePacket());
  if (!packet.timeout) return;
  if (extension <= 0) {
    closeWithError(reading ? socket_errors::readTimeoutError() : socket_errors::writeTimeoutError());
    return;
  }
  *packet.timeout += extension;
  startPacketTimer(kind, extension);
  if (reading) {
    flags_ &= ~kReadsPaused;
    doReadData();
  } else {
    flags_ &= ~kWritesPaused;
    doWriteData();
  }
}

}  // namespace control
