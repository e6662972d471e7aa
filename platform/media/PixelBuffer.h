#pragma once
// A picture in memory: size, pixel format, one to three planes with their
// bytes per row, a lock count (read-only locks kept apart) and attachments
// (colour information, field details, our own keys) as platform values.
//
// Memory is one of three kinds:
//  - owned: allocated here, rows aligned, freed with the buffer;
//  - borrowed: the caller's memory (a decoded frame, a packet) with a release
//    callback that runs when the last reference goes;
//  - shareable: a SharedSurface other processes can map, found by surfaceID()
//    in this process or sent with sendPixelBuffer.
// Buffers are shared through std::shared_ptr; the pixels are the users' to
// coordinate, attachments are guarded and may be touched from any thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/media/PixelFormat.h"
#include "platform/media/SharedSurface.h"

namespace platform::media {

// Largest side and pixel count of any buffer (and of decoded images).
inline constexpr std::size_t kMaxPixelBufferSide = 16384;
inline constexpr std::size_t kMaxPixelBufferPixels = std::size_t{1} << 28;

// Attachment keys the readers, decoders and the engine use.
inline constexpr const char* kPixelBufferFieldCountKey = "FieldCount";
inline constexpr const char* kPixelBufferFieldDetailKey = "FieldDetail";
inline constexpr const char* kPixelBufferPixelAspectRatioKey = "PixelAspectRatio";
inline constexpr const char* kPixelBufferCleanApertureKey = "CleanAperture";
inline constexpr const char* kPixelBufferColorPrimariesKey = "ColorPrimaries";
inline constexpr const char* kPixelBufferTransferFunctionKey = "TransferFunction";
inline constexpr const char* kPixelBufferYCbCrMatrixKey = "YCbCrMatrix";

enum class PixelBufferLockFlags : std::uint32_t { None = 0, ReadOnly = 1 };

struct PixelBufferAttributes {
  std::size_t bytesPerRowAlignment = 64;  // rows of owned and shareable buffers
  bool shareable = false;                 // a SharedSurface instead of private memory
  platform::Dictionary attachments;       // copied onto the new buffer
};

// One plane of caller memory for createWithPlanarBytes.
struct PixelBufferPlane {
  std::uint8_t* baseAddress = nullptr;
  std::size_t bytesPerRow = 0;
  std::size_t width = 0;
  std::size_t height = 0;
};

class PixelBuffer {
 public:
  using ReleaseCallback = std::function<void()>;

  ~PixelBuffer();
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;

  // A new buffer of a known format; zero or oversized dimensions give
  // kCVReturnInvalidSize, unknown formats kCVReturnInvalidPixelFormat, and
  // nothing is allocated.
  static CVReturn create(std::size_t width, std::size_t height, FourCharCode format,
                         const PixelBufferAttributes& attributes, std::shared_ptr<PixelBuffer>* out);
  // Packed pixels in caller memory; `release` runs when the last reference goes.
  static CVReturn createWithBytes(std::size_t width, std::size_t height, FourCharCode format, std::uint8_t* baseAddress,
                                  std::size_t bytesPerRow, ReleaseCallback release, std::shared_ptr<PixelBuffer>* out);
  // Planes in caller memory (decoded planar frames); any plane count 1 to 3.
  static CVReturn createWithPlanarBytes(std::size_t width, std::size_t height, FourCharCode format,
                                        const std::vector<PixelBufferPlane>& planes, ReleaseCallback release,
                                        std::shared_ptr<PixelBuffer>* out);

  std::size_t width() const { return width_; }
  std::size_t height() const { return height_; }
  FourCharCode pixelFormatType() const { return format_; }
  bool isPlanar() const { return planes_.size() > 1; }
  std::size_t planeCount() const { return isPlanar() ? planes_.size() : 0; }
  // Plane 0 for packed buffers.
  std::uint8_t* baseAddress() const { return planes_[0].baseAddress; }
  std::size_t bytesPerRow() const { return planes_[0].bytesPerRow; }
  std::uint8_t* baseAddressOfPlane(std::size_t plane) const;
  std::size_t bytesPerRowOfPlane(std::size_t plane) const;
  std::size_t widthOfPlane(std::size_t plane) const;
  std::size_t heightOfPlane(std::size_t plane) const;
  // Bytes from the first to the last byte of every plane's rows.
  std::size_t dataSize() const;

  // Locks nest; an unlock must name the flags of its lock. An unbalanced
  // unlock answers kCVReturnInvalidArgument.
  CVReturn lockBaseAddress(PixelBufferLockFlags flags);
  CVReturn unlockBaseAddress(PixelBufferLockFlags flags);
  bool isLocked() const { return readOnlyLocks_.load() + writeLocks_.load() > 0; }

  void setAttachment(const std::string& key, platform::Value value);
  platform::Value attachment(const std::string& key) const;
  void removeAttachment(const std::string& key);
  platform::Dictionary attachments() const;

  // The surface of a shareable buffer (nullptr otherwise) and its ID.
  const std::shared_ptr<SharedSurface>& surface() const { return surface_; }
  std::optional<std::uint32_t> surfaceID() const;

 private:
  friend class PixelBufferPool;
  friend Result<std::shared_ptr<PixelBuffer>> receivePixelBuffer(int socket);
  PixelBuffer() = default;
  static CVReturn allocate(std::size_t width, std::size_t height, const PixelFormatDescription& description,
                           const PixelBufferAttributes& attributes, std::unique_ptr<PixelBuffer>* out);
  // Plane offsets into one block for a buffer of this format.
  static std::vector<PixelBufferPlane> layOut(std::size_t width, std::size_t height,
                                              const PixelFormatDescription& description, std::size_t alignment,
                                              std::size_t* totalSize);

  std::size_t width_ = 0;
  std::size_t height_ = 0;
  FourCharCode format_ = 0;
  std::vector<PixelBufferPlane> planes_;
  std::unique_ptr<std::uint8_t, void (*)(void*)> owned_{nullptr, nullptr};
  std::shared_ptr<SharedSurface> surface_;
  ReleaseCallback release_;
  std::atomic<int> readOnlyLocks_{0};
  std::atomic<int> writeLocks_{0};
  mutable std::mutex attachmentsMutex_;
  platform::Dictionary attachments_;  // guarded by attachmentsMutex_
};

// Checks width, height and pixel count against the limits above.
bool isAcceptablePixelBufferSize(std::size_t width, std::size_t height);

// Sends a shareable buffer (its surface and layout) over a Unix socket;
// receivePixelBuffer maps it in another process. A layout that does not fit
// the received surface is refused.
Status sendPixelBuffer(int socket, const PixelBuffer& buffer);
Result<std::shared_ptr<PixelBuffer>> receivePixelBuffer(int socket);

}  // namespace platform::media
