#include "engine/vudododuva/PortMessages.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Digests.h"

namespace engine::vudododuva {

ssize_t sendPortMessage(int socket, std::string_view bytes, int descriptor, int flags) {
  iovec part{const_cast<char*>(bytes.data()), bytes.size()};
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (descriptor >= 0) {
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    cmsghdr* rights = CMSG_FIRSTHDR(&header);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &descriptor, sizeof(descriptor));
  }
  return ::sendmsg(socket, &header, flags | MSG_NOSIGNAL);
}

ssize_t receivePortMessage(int socket, std::span<char> buffer, std::optional<int>* descriptor) {
  iovec part{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof(control);
  const ssize_t length = ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
  if (length < 0) return length;
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(fd));
      if (!descriptor->has_value())
        *descriptor = fd;
      else
        ::close(fd);
    }
  }
  return length;
}

int listenOnPort(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (listener < 0) return -1;
  ::unlink(path.c_str());
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || ::listen(listener, 4) != 0) {
    const int error = errno;
    ::close(listener);
    errno = error;
    return -1;
  }
  return listener;
}

std::string sha256Text(std::span<const std::uint8_t> bytes) {
  static const char* hex = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : foundation::digestOfBytes(foundation::DigestAlgorithm::SHA256, bytes).value_or(platform::Data{})) {
    text += hex[byte >> 4];
    text += hex[byte & 15];
  }
  return text;
}

}  // namespace engine::vudododuva
