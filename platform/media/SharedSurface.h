#pragma once
// Memory that another process can map: a memfd sealed against resizing,
// mapped here, registered under a process-wide ID while it lives (the
// "global surface" of pixel buffers). Inside this process a surface is found
// by its ID; another process gets the descriptor over a Unix socket
// (SCM_RIGHTS) with a small header, see sendSurface / receiveSurface.
//
// Thread-safe: the ID table is guarded; the memory itself is the users'.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/Error.h"

namespace platform::media {

inline constexpr const char* kSharedSurfaceErrorDomain = "platform.media.SharedSurface";
// Largest header sendSurface carries beside the descriptor.
inline constexpr std::size_t kSharedSurfaceMaxHeaderSize = 4096;

class SharedSurface {
 public:
  ~SharedSurface();
  SharedSurface(const SharedSurface&) = delete;
  SharedSurface& operator=(const SharedSurface&) = delete;

  // A new zero-filled surface of `size` bytes (not 0), registered under a new ID.
  static Result<std::shared_ptr<SharedSurface>> create(std::size_t size);
  // Maps a descriptor received from another process (takes ownership of fd);
  // registered here under a new ID of this process.
  static Result<std::shared_ptr<SharedSurface>> adopt(int fd);
  // The live surface with this ID, or nullptr.
  static std::shared_ptr<SharedSurface> lookup(std::uint32_t id);

  std::uint32_t id() const { return id_; }
  int descriptor() const { return fd_; }  // owned by the surface
  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  SharedSurface(int fd, std::uint8_t* data, std::size_t size);

  int fd_;
  std::uint8_t* data_;
  std::size_t size_;
  std::uint32_t id_ = 0;
};

// Sends the surface's descriptor and `header` (at most
// kSharedSurfaceMaxHeaderSize bytes) as one message on a Unix socket.
Status sendSurface(int socket, const SharedSurface& surface, std::span<const std::uint8_t> header);

struct ReceivedSurface {
  std::shared_ptr<SharedSurface> surface;
  std::vector<std::uint8_t> header;
};
// Receives one message of sendSurface; a message without a descriptor, with
// more than one, or a truncated one is refused (stray descriptors closed).
Result<ReceivedSurface> receiveSurface(int socket);

}  // namespace platform::media
