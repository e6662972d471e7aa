#include "platform/media/SharedSurface.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace platform::media {
namespace {

enum class SurfaceError { CreateFailed = 1, MapFailed = 2, SendFailed = 3, ReceiveFailed = 4, BadMessage = 5 };

Error failure(SurfaceError code, const std::string& what) {
  return Error(kSharedSurfaceErrorDomain, code, what + ": " + std::strerror(errno));
}

struct Registry {
  std::mutex mutex;
  std::uint32_t nextID = 1;                                     // guarded by mutex
  std::map<std::uint32_t, std::weak_ptr<SharedSurface>> table;  // guarded by mutex
};

Registry& registry() {
  static Registry* instance = new Registry;  // lives for the process; surfaces may outlive statics
  return *instance;
}

}  // namespace

SharedSurface::SharedSurface(int fd, std::uint8_t* data, std::size_t size) : fd_(fd), data_(data), size_(size) {}

SharedSurface::~SharedSurface() {
  {
    std::lock_guard lock(registry().mutex);
    registry().table.erase(id_);
  }
  ::munmap(data_, size_);
  ::close(fd_);
}

namespace {
std::shared_ptr<SharedSurface> registerSurface(std::shared_ptr<SharedSurface> surface, std::uint32_t* id) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  do {
    *id = r.nextID++;
  } while (*id == 0 || r.table.contains(*id));
  r.table[*id] = surface;
  return surface;
}
}  // namespace

Result<std::shared_ptr<SharedSurface>> SharedSurface::create(std::size_t size) {
  if (size == 0) return Error(kSharedSurfaceErrorDomain, SurfaceError::CreateFailed, "empty surface");
  const int fd = ::memfd_create("surface", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return failure(SurfaceError::CreateFailed, "memfd_create");
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0 ||
      ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    Error error = failure(SurfaceError::CreateFailed, "memfd size");
    ::close(fd);
    return error;
  }
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) {
    Error error = failure(SurfaceError::MapFailed, "mmap");
    ::close(fd);
    return error;
  }
  std::shared_ptr<SharedSurface> surface(new SharedSurface(fd, static_cast<std::uint8_t*>(data), size));
  return registerSurface(surface, &surface->id_);
}

Result<std::shared_ptr<SharedSurface>> SharedSurface::adopt(int fd) {
  struct stat status {};
  // A peer could hand a descriptor that grows or shrinks under us: only sealed memfds are mapped.
  const int seals = ::fcntl(fd, F_GET_SEALS);
  if (::fstat(fd, &status) != 0 || status.st_size <= 0 || seals < 0 ||
      (seals & (F_SEAL_SHRINK | F_SEAL_GROW)) != (F_SEAL_SHRINK | F_SEAL_GROW)) {
    ::close(fd);
    return Error(kSharedSurfaceErrorDomain, SurfaceError::BadMessage, "descriptor is not a sealed surface");
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) {
    Error error = failure(SurfaceError::MapFailed, "mmap");
    ::close(fd);
    return error;
  }
  std::shared_ptr<SharedSurface> surface(new SharedSurface(fd, static_cast<std::uint8_t*>(data), size));
  return registerSurface(surface, &surface->id_);
}

std::shared_ptr<SharedSurface> SharedSurface::lookup(std::uint32_t id) {
  std::lock_guard lock(registry().mutex);
  auto it = registry().table.find(id);
  return it == registry().table.end() ? nullptr : it->second.lock();
}

Status sendSurface(int socket, const SharedSurface& surface, std::span<const std::uint8_t> header) {
  if (header.size() > kSharedSurfaceMaxHeaderSize) {
    return Error(kSharedSurfaceErrorDomain, SurfaceError::SendFailed, "surface header too long");
  }
  std::uint8_t empty = 0;
  iovec io{header.empty() ? &empty : const_cast<std::uint8_t*>(header.data()), header.empty() ? 1 : header.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* cmsg = CMSG_FIRSTHDR(&message);
  cmsg->cmsg_level = SOL_SOCKET;
  cmsg->cmsg_type = SCM_RIGHTS;
  cmsg->cmsg_len = CMSG_LEN(sizeof(int));
  const int fd = surface.descriptor();
  std::memcpy(CMSG_DATA(cmsg), &fd, sizeof fd);
  ssize_t sent;
  do {
    sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(io.iov_len)) return failure(SurfaceError::SendFailed, "sendmsg");
  return Status::success();
}

Result<ReceivedSurface> receiveSurface(int socket) {
  std::vector<std::uint8_t> header(kSharedSurfaceMaxHeaderSize);
  iovec io{header.data(), header.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t received;
  do {
    received = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return failure(SurfaceError::ReceiveFailed, "recvmsg");
  std::vector<int> descriptors;
  for (cmsghdr* cmsg = CMSG_FIRSTHDR(&message); cmsg; cmsg = CMSG_NXTHDR(&message, cmsg)) {
    if (cmsg->cmsg_level != SOL_SOCKET || cmsg->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (cmsg->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(cmsg) + i * sizeof(int), sizeof fd);
      descriptors.push_back(fd);
    }
  }
  const bool truncated = (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
  if (truncated || descriptors.size() != 1 || received == 0) {
    for (int fd : descriptors) ::close(fd);
    return Error(kSharedSurfaceErrorDomain, SurfaceError::BadMessage, "message is not one surface");
  }
  auto surface = SharedSurface::adopt(descriptors[0]);
  if (!surface) return surface.error();
  header.resize(static_cast<std::size_t>(received));
  return ReceivedSurface{std::move(surface.value()), std::move(header)};
}

}  // namespace platform::media
