#include "engine/vudododuva/ReceiverPort.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/vudododuva/PortMessages.h"
#include "engine/vudododuva/VudodoDuvaProtocol.h"

namespace engine::vudododuva {
namespace {

inline constexpr const char* kErrorDomain = "engine.vudododuva.port";
enum class PortError { BadName = 1, ConnectFailed = 2 };

}  // namespace

platform::Result<std::unique_ptr<ReceiverPort>> ReceiverPort::connect(const std::string& name,
                                                                      const std::filesystem::path& folder) {
  if (!isValidPortName(name)) return platform::Error(kErrorDomain, PortError::BadName, "Bad port name");
  const std::string path = (folder / (name + ".sock")).string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path))
    return platform::Error(kErrorDomain, PortError::BadName, "Port path too long: " + path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return platform::Error(kErrorDomain, PortError::ConnectFailed, std::string("socket: ") + std::strerror(errno));
  auto port = std::unique_ptr<ReceiverPort>(new ReceiverPort(name, fd));  // closes fd on every return below
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    return platform::Error(kErrorDomain, PortError::ConnectFailed,
                           "Cannot connect to " + path + ": " + std::strerror(errno));
  return port;
}

ReceiverPort::SendResult ReceiverPort::send(const std::string& message,
                                            const std::shared_ptr<platform::media::PixelBuffer>& picture,
                                            platform::Clock::TimePoint now, int* error) {
  if (unanswered_.size() >= static_cast<std::size_t>(kMaxUnansweredFrames)) {
    ++skippedFrames_;
    return SendResult::Skipped;
  }
  const auto& surface = picture->surface();
  const bool withDescriptor = !surfacesSent_.contains(surface->id());
  if (sendPortMessage(socket_.get(), message, withDescriptor ? surface->descriptor() : -1, MSG_DONTWAIT) < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      ++skippedFrames_;
      return SendResult::Skipped;
    }
    if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN || errno == ECONNREFUSED) return SendResult::Gone;
    *error = errno;
    return SendResult::Failed;
  }
  if (withDescriptor) surfacesSent_.insert(surface->id());
  unanswered_.push_back({picture, now});
  return SendResult::Sent;
}

bool ReceiverPort::readAnswers() {
  for (;;) {
    char answer[2];
    iovec part{answer, sizeof(answer)};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    // No room for descriptors: any the receiver sends are closed by the kernel and flagged.
    const ssize_t length = ::recvmsg(socket_.get(), &header, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
    if (length < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (length != 1 || (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 || unanswered_.empty()) return false;
    unanswered_.pop_front();
    ++answeredFrames_;
  }
}

void ReceiverPort::releasePicturesSentBy(platform::Clock::TimePoint sentBy) {
  for (auto& frame : unanswered_)
    if (frame.sentAt <= sentBy) frame.picture.reset();
}

std::size_t ReceiverPort::heldPictures() const {
  return static_cast<std::size_t>(
      std::count_if(unanswered_.begin(), unanswered_.end(), [](const Unanswered& frame) { return frame.picture != nullptr; }));
}

}  // namespace engine::vudododuva
