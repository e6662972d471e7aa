// The read queue and the read engine.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "control/sockets/CVNSocket.h"
#include "control/sockets/CVNSocketInternal.h"

namespace control {

CVNSocketReadPacket* CVNSocket::currentReadPacket() const {
  if (!currentRead_) return nullptr;
  auto* packet = std::get_if<std::unique_ptr<CVNSocketReadPacket>>(&*currentRead_);
  return packet ? packet->get() : nullptr;
}

void CVNSocket::queueRead(std::unique_ptr<CVNSocketReadPacket> packet) {
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  auto shared = std::shared_ptr<CVNSocketReadPacket>(packet.release());
  socketQueue_->async([weak, shared] {
    auto self = weak.lock();
    if (!self) return;
    if ((self->flags_ & kStarted) && !(self->flags_ & kForbidReadsWrites)) {
      self->readQueue_.emplace_back(std::make_unique<CVNSocketReadPacket>(std::move(*shared)));
      self->maybeDequeueRead();
    }
  });
}

void CVNSocket::readDataWithTimeout(double timeout, std::int64_t tag) {
  readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void CVNSocket::readDataWithTimeout(double timeout, SharedBytes buffer, std::size_t offset, std::size_t maxLength,
                                    std::int64_t tag) {
  if (buffer ? offset > buffer->size() : offset > 0) return;
  queueRead(std::make_unique<CVNSocketReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, Bytes{}, tag));
}

void CVNSocket::readDataToLength(std::size_t length, double timeout, std::int64_t tag) {
  readDataToLength(length, timeout, nullptr, 0, tag);
}

void CVNSocket::readDataToLength(std::size_t length, double timeout, SharedBytes buffer, std::size_t offset,
                                 std::int64_t tag) {
  if (length == 0) return;
  if (buffer ? offset > buffer->size() : offset > 0) return;
  queueRead(std::make_unique<CVNSocketReadPacket>(std::move(buffer), offset, 0, timeout, length, Bytes{}, tag));
}

void CVNSocket::readDataToData(const Bytes& terminator, double timeout, std::int64_t tag) {
  readDataToData(terminator, timeout, nullptr, 0, 0, tag);
}

void CVNSocket::readDataToData(const Bytes& terminator, double timeout, std::size_t maxLength, std::int64_t tag) {
  readDataToData(terminator, timeout, nullptr, 0, maxLength, tag);
}

void CVNSocket::readDataToData(const Bytes& terminator, double timeout, SharedBytes buffer, std::size_t offset,
                               std::size_t maxLength, std::int64_t tag) {
  if (terminator.empty()) return;
  if (buffer ? offset > buffer->size() : offset > 0) return;
  if (maxLength > 0 && maxLength < terminator.size()) return;
  queueRead(std::make_unique<CVNSocketReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, terminator, tag));
}

CVNSocket::Progress CVNSocket::progressOfReadReturningTag() const {
  return readOnQueue<Progress>([this] {
    Progress progress;
    const CVNSocketReadPacket* packet = currentReadPacket();
    if (!packet) {
      progress.fraction = std::numeric_limits<float>::quiet_NaN();
      return progress;
    }
    progress.tag = packet->tag;
    progress.bytesDone = packet->bytesDone;
    progress.total = packet->readLength;
    progress.fraction = packet->readLength > 0 ? float(packet->bytesDone) / float(packet->readLength) : 1.0f;
    return progress;
  });
}

void CVNSocket::maybeDequeueRead() {
  if (currentRead_ || !(flags_ & kConnected)) return;
  if (!readQueue_.empty()) {
    currentRead_ = std::move(readQueue_.front());
    readQueue_.pop_front();
    if (CVNSocketReadPacket* packet = currentReadPacket()) {
      startPacketTimer(PacketKind::Read, packet->timeout);
      doReadData();
    } else {
      flags_ |= kStartingReadTLS;
      maybeStartTLS();
    }
  } else if (flags_ & kDisconnectAfterReads) {
    if (!((flags_ & kDisconnectAfterWrites) && (!writeQueue_.empty() || currentWrite_))) closeWithError(std::nullopt);
  } else if (flags_ & kSocketSecure) {
    sslFlushSSLBuffers();
    if (preBuffer_.availableBytes() == 0) resumeReadSource();
  }
}

void CVNSocket::doReadData() {
  CVNSocketReadPacket* packet = currentReadPacket();
  // The TLS marker counts as a current read: its events drive the handshake.
  if (!currentRead_ || (flags_ & kReadsPaused)) {
    if (flags_ & kSocketSecure) sslFlushSSLBuffers();
    // Nothing takes the bytes now: keep the source quiet so nothing spins.
    suspendReadSource();
    return;
  }
  std::size_t estimated = socketFDBytesAvailable_;
  if (flags_ & kSocketSecure) estimated += sslBufferedBytes();
  if (estimated == 0 && preBuffer_.availableBytes() == 0) {
    resumeReadSource();
    return;
  }
  if (flags_ & kStartingReadTLS) {
    if ((flags_ & kStartingWriteTLS) && sslHandshakeWouldBlock()) {
      sslContinueHandshake();
    } else {
      suspendReadSource();
    }
    return;
  }
  if (!packet) return;

  bool done = false;
  bool waiting = false;
  bool socketEOF = (flags_ & kReadEOF) != 0;
  std::optional<platform::Error> error;
  std::size_t totalBytesRead = 0;

  auto takeFromPreBuffer = [&] {
    std::size_t length;
    if (!packet->term.empty()) {
      length = packet->readLengthForTermWithPreBuffer(preBuffer_, done);
    } else {
      length = packet->readLengthForNonTermWithHint(preBuffer_.availableBytes());
    }
    packet->ensureCapacityForAdditionalDataOfLength(length);
    std::memcpy(packet->writePosition(), preBuffer_.readBuffer(), length);
    preBuffer_.didRead(length);
    packet->bytesDone += length;
    totalBytesRead += length;
    if (packet->readLength > 0) {
      done = packet->bytesDone == packet->readLength;
    } else if (packet->term.empty() && packet->maxLength > 0 && packet->bytesDone == packet->maxLength) {
      done = true;
    }
    if (!done && !packet->term.empty() && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) {
      error = socket_errors::readMaxedOutError();
    }
  };

  // Step 1: bytes read ahead earlier.
  if (preBuffer_.availableBytes() > 0) takeFromPreBuffer();

  // Step 2: the descriptor, one read() per event.
  if (!done && !error && !socketEOF && preBuffer_.availableBytes() == 0) {
    if (estimated == 0) {
      waiting = true;
    } else if (flags_ & kSocketSecure) {
      sslReadIntoPacket(*packet, estimated, done, waiting, socketEOF, error, totalBytesRead);
    } else {
      bool readIntoPreBuffer = false;
      std::size_t bytesToRead;
      if (!packet->term.empty()) {
        bytesToRead = packet->readLengthForTermWithHint(estimated, readIntoPreBuffer);
      } else {
        bytesToRead = packet->readLengthForNonTermWithHint(estimated);
      }
      std::uint8_t* destination;
      if (readIntoPreBuffer) {
        preBuffer_.ensureCapacityForWrite(bytesToRead);
        destination = preBuffer_.writeBuffer();
      } else {
        packet->ensureCapacityForAdditionalDataOfLength(bytesToRead);
        destination = packet->writePosition();
      }
      ssize_t result = ::read(connectedFD(), destination, bytesToRead);
      std::size_t bytesRead = 0;
      if (result < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          waiting = true;
        } else {
          error = socket_errors::errorWithErrno(errno, "Error in read() function");
        }
        socketFDBytesAvailable_ = 0;
      } else if (result == 0) {
        socketEOF = true;
        socketFDBytesAvailable_ = 0;
      } else {
        bytesRead = static_cast<std::size_t>(result);
        if (bytesRead < bytesToRead) {
          socketFDBytesAvailable_ = 0;
          waiting = true;
        } else {
          socketFDBytesAvailable_ = socketFDBytesAvailable_ > bytesRead ? socketFDBytesAvailable_ - bytesRead : 0;
          if (socketFDBytesAvailable_ == 0) waiting = true;
        }
      }
      // The packet-owned buffer grew by what was asked; keep only what came.
      if (!readIntoPreBuffer && packet->bufferOwner) {
        packet->buffer->resize(packet->startOffset + packet->bytesDone + bytesRead);
      }
      if (bytesRead > 0) {
        if (packet->readLength > 0) {
          packet->bytesDone += bytesRead;
          totalBytesRead += bytesRead;
          done = packet->bytesDone == packet->readLength;
        } else if (!packet->term.empty()) {
          if (readIntoPreBuffer) {
            preBuffer_.didWrite(bytesRead);
            takeFromPreBuffer();
          } else {
            const std::ptrdiff_t overflow = packet->searchForTermAfterPreBuffering(bytesRead);
            if (overflow == 0) {
              packet->bytesDone += bytesRead;
              totalBytesRead += bytesRead;
              done = true;
            } else if (overflow > 0) {
              const std::size_t underflow = bytesRead - static_cast<std::size_t>(overflow);
              const std::uint8_t* after = packet->writePosition() + underflow;
              preBuffer_.ensureCapacityForWrite(static_cast<std::size_t>(overflow));
              std::memcpy(preBuffer_.writeBuffer(), after, static_cast<std::size_t>(overflow));
              preBuffer_.didWrite(static_cast<std::size_t>(overflow));
              packet->bytesDone += underflow;
              totalBytesRead += underflow;
              done = true;
            } else {
              packet->bytesDone += bytesRead;
              totalBytesRead += bytesRead;
            }
          }
          if (!done && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) {
            error = socket_errors::readMaxedOutError();
          }
        } else {
          packet->bytesDone += bytesRead;
          totalBytesRead += bytesRead;
          done = true;
        }
      }
    }
  }

  if (!done && packet->readLength == 0 && packet->term.empty() && totalBytesRead > 0) done = true;

  if (done) {
    completeCurrentRead();
    if (!error && (!socketEOF || preBuffer_.availableBytes() > 0)) maybeDequeueRead();
  } else if (totalBytesRead > 0) {
    waiting = true;
    const std::int64_t tag = packet->tag;
    notifyDelegate([totalBytesRead, tag](CVNSocketDelegate& d, const std::shared_ptr<CVNSocket>& s) {
      d.socketDidReadPartialDataOfLength(s, totalBytesRead, tag);
    });
  }

  if (error) {
    closeWithError(std::move(error));
  } else if (socketEOF) {
    doReadEOF();
  } else if (waiting) {
    if (!(flags_ & kSocketSecure)) resumeReadSource();
  }
}

void CVNSocket::doReadEOF() {
  flags_ |= kReadEOF;
  if (flags_ & kSocketSecure) sslFlushSSLBuffers();
  bool shouldDisconnect = false;
  if ((flags_ & kStartingReadTLS) || (flags_ & kStartingWriteTLS)) {
    shouldDisconnect = true;
  } else if (flags_ & kReadStreamClosed) {
    suspendReadSource();
  } else if (preBuffer_.availableBytes() > 0) {
    // The queued reads drain what is left first.
    suspendReadSource();
    if (currentReadPacket()) doReadData();
  } else if (config_ & kAllowHalfDuplexConnection) {
    pollfd pfd{connectedFD(), POLLOUT, 0};
    ::poll(&pfd, 1, 0);
    if ((pfd.revents & POLLOUT) && !(pfd.revents & (POLLERR | POLLHUP))) {
      flags_ |= kReadStreamClosed;
      notifyDelegate([](CVNSocketDelegate& d, const std::shared_ptr<CVNSocket>& s) { d.socketDidCloseReadStream(s); });
      suspendReadSource();
    } else {
      shouldDisconnect = true;
    }
  } else {
    shouldDisconnect = true;
  }
  if (!shouldDisconnect) return;
  if ((flags_ & kStartingReadTLS) || (flags_ & kStartingWriteTLS)) {
    closeWithError(socket_errors::sslError(kSSLClosedAbort));
  } else if (auto tlsError = sslEndOfStreamError()) {
    closeWithError(std::move(tlsError));
  } else {
    closeWithError(socket_errors::connectionClosedError());
  }
}

void CVNSocket::completeCurrentRead() {
  CVNSocketReadPacket* packet = currentReadPacket();
  CVNSocketData data;
  if (packet->bufferOwner) {
    packet->buffer->resize(packet->bytesDone);
    data = CVNSocketData(packet->buffer, 0, packet->bytesDone);
  } else {
    if (packet->buffer->size() > packet->originalBufferLength) {
      packet->buffer->resize(std::max(packet->startOffset + packet->bytesDone, packet->originalBufferLength));
    }
    data = CVNSocketData(packet->buffer, packet->startOffset, packet->bytesDone);
  }
  const std::int64_t tag = packet->tag;
  notifyDelegate([data, tag](CVNSocketDelegate& d, const std::shared_ptr<CVNSocket>& s) {
    d.socketDidReadData(s, data, tag);
  });
  endCurrentRead();
}

void CVNSocket::endCurrentRead() {
  readTimer_.cancel();
  readTimer_ = {};
  currentRead_.reset();
}

}  // namespace control
