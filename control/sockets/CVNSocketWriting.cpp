// The write queue and the write engine.
#include <sys/socket.h>

#include <cerrno>
#include <limits>

#include "control/sockets/CVNSocket.h"
#include "control/sockets/CVNSocketInternal.h"

namespace control {

CVNSocketWritePacket* CVNSocket::currentWritePacket() const {
  if (!currentWrite_) return nullptr;
  auto* packet = std::get_if<std::unique_ptr<CVNSocketWritePacket>>(&*currentWrite_);
  return packet ? packet->get() : nullptr;
}

void CVNSocket::writeData(ConstBytes data, double timeout, std::int64_t tag) {
  if (!data || data->empty()) return;
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  socketQueue_->async([weak, data = std::move(data), timeout, tag] {
    auto self = weak.lock();
    if (!self) return;
    if ((self->flags_ & kStarted) && !(self->flags_ & kForbidReadsWrites)) {
      auto packet = std::make_unique<CVNSocketWritePacket>();
      packet->buffer = data;
      packet->timeout = timeout;
      packet->tag = tag;
      self->writeQueue_.emplace_back(std::move(packet));
      self->maybeDequeueWrite();
    }
  });
}

CVNSocket::Progress CVNSocket::progressOfWriteReturningTag() const {
  return readOnQueue<Progress>([this] {
    Progress progress;
    const CVNSocketWritePacket* packet = currentWritePacket();
    if (!packet) {
      progress.fraction = std::numeric_limits<float>::quiet_NaN();
      return progress;
    }
    progress.tag = packet->tag;
    progress.bytesDone = packet->bytesDone;
    progress.total = packet->buffer->size();
    progress.fraction = float(packet->bytesDone) / float(packet->buffer->size());
    return progress;
  });
}

void CVNSocket::maybeDequeueWrite() {
  if (currentWrite_ || !(flags_ & kConnected)) return;
  if (!writeQueue_.empty()) {
    currentWrite_ = std::move(writeQueue_.front());
    writeQueue_.pop_front();
    if (CVNSocketWritePacket* packet = currentWritePacket()) {
      startPacketTimer(PacketKind::Write, packet->timeout);
      doWriteData();
    } else {
      flags_ |= kStartingWriteTLS;
      maybeStartTLS();
    }
  } else if (flags_ & kDisconnectAfterWrites) {
    if (!((flags_ & kDisconnectAfterReads) && (!readQueue_.empty() || currentRead_))) closeWithError(std::nullopt);
  }
}

void CVNSocket::doWriteData() {
  CVNSocketWritePacket* packet = currentWritePacket();
  // The TLS marker counts as a current write: its events drive the handshake.
  if (!currentWrite_ || (flags_ & kWritesPaused)) {
    if (flags_ & kSocketCanAcceptBytes) suspendWriteSource();
    return;
  }
  if (!(flags_ & kSocketCanAcceptBytes)) {
    resumeWriteSource();
    return;
  }
  if (flags_ & kStartingWriteTLS) {
    if ((flags_ & kStartingReadTLS) && sslHandshakeWouldBlock()) {
      sslContinueHandshake();
    } else {
      suspendWriteSource();
    }
    return;
  }
  if (!packet) return;

  bool waiting = false;
  std::optional<platform::Error> error;
  std::size_t written = 0;
  if (flags_ & kSocketSecure) {
    sslWritePacket(*packet, written, waiting, error);
  } else {
    const std::size_t remaining = packet->buffer->size() - packet->bytesDone;
    ssize_t result = ::send(connectedFD(), packet->buffer->data() + packet->bytesDone, remaining, MSG_NOSIGNAL);
    if (result < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        waiting = true;
      } else {
        error = socket_errors::errorWithErrno(errno, "Error in write() function");
      }
    } else {
      written = static_cast<std::size_t>(result);
    }
  }

  if (waiting) {
    flags_ &= ~kSocketCanAcceptBytes;
    resumeWriteSource();
  }
  packet->bytesDone += written;
  if (packet->bytesDone == packet->buffer->size()) {
    completeCurrentWrite();
    if (!error) {
      std::weak_ptr<CVNSocket> weak = weak_from_this();
      socketQueue_->async([weak] {
        if (auto self = weak.lock()) self->maybeDequeueWrite();
      });
    }
  } else {
    if (!waiting && !error) {
      flags_ &= ~kSocketCanAcceptBytes;
      resumeWriteSource();
    }
    if (written > 0 && delegateWantsWriteProgress(packet->tag)) {
      const std::int64_t tag = packet->tag;
      notifyDelegate([written, tag](CVNSocketDelegate& d, const std::shared_ptr<CVNSocket>& s) {
        d.socketDidWritePartialDataOfLength(s, written, tag);
      });
    }
  }
  if (error) closeWithError(std::move(error));
}

void CVNSocket::completeCurrentWrite() {
  const std::int64_t tag = currentWritePacket()->tag;
  if (delegateWantsWriteProgress(tag)) {
    notifyDelegate([tag](CVNSocketDelegate& d, const std::shared_ptr<CVNSocket>& s) { d.socketDidWriteDataWithTag(s, tag); });
  }
  endCurrentWrite();
}

bool CVNSocket::delegateWantsWriteProgress(std::int64_t tag) const {
  auto delegate = delegate_.lock();
  return delegate && delegate->wantsWriteProgressForTag(tag);
}

void CVNSocket::endCurrentWrite() {
  writeTimer_.cancel();
  writeTimer_ = {};
  currentWrite_.reset();
}

}  // namespace control
