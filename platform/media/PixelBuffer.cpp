#include "platform/media/PixelBuffer.h"

#include <cstdlib>
#include <cstring>

namespace platform::media {
namespace {

std::size_t alignUp(std::size_t value, std::size_t alignment) {
  return alignment <= 1 ? value : (value + alignment - 1) / alignment * alignment;
}

bool isPowerOfTwo(std::size_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool isAcceptablePixelBufferSize(std::size_t width, std::size_t height) {
  return width > 0 && height > 0 && width <= kMaxPixelBufferSide && height <= kMaxPixelBufferSide &&
         width * height <= kMaxPixelBufferPixels;
}

PixelBuffer::~PixelBuffer() {
  if (release_) release_();
}

std::vector<PixelBufferPlane> PixelBuffer::layOut(std::size_t width, std::size_t height,
                                                  const PixelFormatDescription& description, std::size_t alignment,
                                                  std::size_t* totalSize) {
  std::vector<PixelBufferPlane> planes(description.planeCount);
  std::size_t offset = 0;
  for (std::size_t i = 0; i < description.planeCount; ++i) {
    planes[i].bytesPerRow = alignUp(minimumBytesPerRow(description, i, width), alignment);
    planes[i].width = planeWidth(description, i, width);
    planes[i].height = planeHeight(description, i, height);
    // Offsets for now; allocate() turns them into addresses.
    planes[i].baseAddress = reinterpret_cast<std::uint8_t*>(offset);
    offset += alignUp(planes[i].bytesPerRow * planes[i].height, alignment);
  }
  *totalSize = offset;
  return planes;
}

CVReturn PixelBuffer::allocate(std::size_t width, std::size_t height, const PixelFormatDescription& description,
                               const PixelBufferAttributes& attributes, std::unique_ptr<PixelBuffer>* out) {
  const std::size_t alignment = std::max<std::size_t>(attributes.bytesPerRowAlignment, 16);
  if (!isPowerOfTwo(alignment) || alignment > 4096) return kCVReturnInvalidPixelBufferAttributes;
  std::size_t total = 0;
  std::vector<PixelBufferPlane> planes = layOut(width, height, description, alignment, &total);
  std::unique_ptr<PixelBuffer> buffer(new PixelBuffer);
  std::uint8_t* base = nullptr;
  if (attributes.shareable) {
    auto surface = SharedSurface::create(total);
    if (!surface) return kCVReturnAllocationFailed;
    buffer->surface_ = std::move(surface.value());
    base = buffer->surface_->data();
  } else {
    void* memory = std::aligned_alloc(alignment, total);
    if (!memory) return kCVReturnAllocationFailed;
    buffer->owned_ = {static_cast<std::uint8_t*>(memory), std::free};
    base = buffer->owned_.get();
  }
  for (auto& plane : planes) plane.baseAddress = base + reinterpret_cast<std::uintptr_t>(plane.baseAddress);
  buffer->width_ = width;
  buffer->height_ = height;
  buffer->format_ = description.format;
  buffer->planes_ = std::move(planes);
  buffer->attachments_ = attributes.attachments;
  *out = std::move(buffer);
  return kCVReturnSuccess;
}

CVReturn PixelBuffer::create(std::size_t width, std::size_t height, FourCharCode format,
                             const PixelBufferAttributes& attributes, std::shared_ptr<PixelBuffer>* out) {
  out->reset();
  if (!isAcceptablePixelBufferSize(width, height)) return kCVReturnInvalidSize;
  const PixelFormatDescription* description = pixelFormatDescription(format);
  if (!description) return kCVReturnInvalidPixelFormat;
  std::unique_ptr<PixelBuffer> made;
  const CVReturn status = allocate(width, height, *description, attributes, &made);
  *out = std::move(made);
  return status;
}

CVReturn PixelBuffer::createWithBytes(std::size_t width, std::size_t height, FourCharCode format,
                                      std::uint8_t* baseAddress, std::size_t bytesPerRow, ReleaseCallback release,
                                      std::shared_ptr<PixelBuffer>* out) {
  return createWithPlanarBytes(width, height, format, {{baseAddress, bytesPerRow, width, height}}, std::move(release),
                               out);
}

CVReturn PixelBuffer::createWithPlanarBytes(std::size_t width, std::size_t height, FourCharCode format,
                                            const std::vector<PixelBufferPlane>& planes, ReleaseCallback release,
                                            std::shared_ptr<PixelBuffer>* out) {
  out->reset();
  if (!isAcceptablePixelBufferSize(width, height)) return kCVReturnInvalidSize;
  if (planes.empty() || planes.size() > kMaxPlaneCount) return kCVReturnInvalidArgument;
  const PixelFormatDescription* description = pixelFormatDescription(format);
  for (std::size_t i = 0; i < planes.size(); ++i) {
    const PixelBufferPlane& plane = planes[i];
    if (!plane.baseAddress || plane.height == 0 || plane.width == 0) return kCVReturnInvalidArgument;
    // Packed memory of a known format must hold a whole row of pixels.
    if (description && planes.size() == 1 && plane.bytesPerRow < minimumBytesPerRow(*description, 0, width)) {
      return kCVReturnInvalidArgument;
    }
  }
  std::shared_ptr<PixelBuffer> buffer(new PixelBuffer);
  buffer->width_ = width;
  buffer->height_ = height;
  buffer->format_ = format;
  buffer->planes_ = planes;
  buffer->release_ = std::move(release);
  *out = std::move(buffer);
  return kCVReturnSuccess;
}

std::uint8_t* PixelBuffer::baseAddressOfPlane(std::size_t plane) const {
  return plane < planes_.size() ? planes_[plane].baseAddress : nullptr;
}
std::size_t PixelBuffer::bytesPerRowOfPlane(std::size_t plane) const {
  return plane < planes_.size() ? planes_[plane].bytesPerRow : 0;
}
std::size_t PixelBuffer::widthOfPlane(std::size_t plane) const {
  return plane < planes_.size() ? planes_[plane].width : 0;
}
std::size_t PixelBuffer::heightOfPlane(std::size_t plane) const {
  return plane < planes_.size() ? planes_[plane].height : 0;
}

std::size_t PixelBuffer::dataSize() const {
  std::size_t size = 0;
  for (const auto& plane : planes_) size += plane.bytesPerRow * plane.height;
  return size;
}

CVReturn PixelBuffer::lockBaseAddress(PixelBufferLockFlags flags) {
  (flags == PixelBufferLockFlags::ReadOnly ? readOnlyLocks_ : writeLocks_).fetch_add(1);
  return kCVReturnSuccess;
}

CVReturn PixelBuffer::unlockBaseAddress(PixelBufferLockFlags flags) {
  std::atomic<int>& count = flags == PixelBufferLockFlags::ReadOnly ? readOnlyLocks_ : writeLocks_;
  int current = count.load();
  do {
    if (current <= 0) return kCVReturnInvalidArgument;
  } while (!count.compare_exchange_weak(current, current - 1));
  return kCVReturnSuccess;
}

void PixelBuffer::setAttachment(const std::string& key, platform::Value value) {
  std::lock_guard lock(attachmentsMutex_);
  attachments_[key] = std::move(value);
}

platform::Value PixelBuffer::attachment(const std::string& key) const {
  std::lock_guard lock(attachmentsMutex_);
  auto it = attachments_.find(key);
  return it == attachments_.end() ? platform::Value() : it->second;
}

void PixelBuffer::removeAttachment(const std::string& key) {
  std::lock_guard lock(attachmentsMutex_);
  attachments_.erase(key);
}

platform::Dictionary PixelBuffer::attachments() const {
  std::lock_guard lock(attachmentsMutex_);
  return attachments_;
}

std::optional<std::uint32_t> PixelBuffer::surfaceID() const {
  if (!surface_) return std::nullopt;
  return surface_->id();
}

namespace {

// The layout beside a sent surface: little-endian 64-bit words.
constexpr std::uint64_t kLayoutMagic = 0x5346425850ull;  // "PXBFS"

void put(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

bool take(const std::vector<std::uint8_t>& in, std::size_t& offset, std::uint64_t* value) {
  if (offset > in.size() || in.size() - offset < 8) return false;
  *value = 0;
  for (int i = 0; i < 8; ++i) *value |= std::uint64_t{in[offset + i]} << (8 * i);
  offset += 8;
  return true;
}

Error badLayout() { return Error(kSharedSurfaceErrorDomain, 6, "received pixel buffer layout does not fit its surface"); }

}  // namespace

Status sendPixelBuffer(int socket, const PixelBuffer& buffer) {
  if (!buffer.surface()) return Error(kSharedSurfaceErrorDomain, 7, "pixel buffer is not shareable");
  std::vector<std::uint8_t> header;
  const std::uint8_t* base = buffer.surface()->data();
  const std::size_t count = buffer.isPlanar() ? buffer.planeCount() : 1;
  for (std::uint64_t word : {kLayoutMagic, std::uint64_t{buffer.width()}, std::uint64_t{buffer.height()},
                             std::uint64_t{buffer.pixelFormatType()}, std::uint64_t{count}}) {
    put(header, word);
  }
  for (std::size_t i = 0; i < count; ++i) {
    put(header, static_cast<std::uint64_t>(buffer.baseAddressOfPlane(i) - base));
    put(header, buffer.bytesPerRowOfPlane(i));
    put(header, buffer.widthOfPlane(i));
    put(header, buffer.heightOfPlane(i));
  }
  return sendSurface(socket, *buffer.surface(), header);
}

Result<std::shared_ptr<PixelBuffer>> receivePixelBuffer(int socket) {
  auto received = receiveSurface(socket);
  if (!received) return received.error();
  const auto& header = received->header;
  const std::shared_ptr<SharedSurface>& surface = received->surface;
  std::size_t offset = 0;
  std::uint64_t magic = 0, width = 0, height = 0, format = 0, count = 0;
  if (!take(header, offset, &magic) || magic != kLayoutMagic || !take(header, offset, &width) ||
      !take(header, offset, &height) || !take(header, offset, &format) || !take(header, offset, &count) ||
      count == 0 || count > kMaxPlaneCount || format > 0xffffffffull) {
    return badLayout();
  }
  std::vector<PixelBufferPlane> planes(count);
  for (auto& plane : planes) {
    std::uint64_t start = 0, bytesPerRow = 0, planeWidthValue = 0, planeHeightValue = 0;
    if (!take(header, offset, &start) || !take(header, offset, &bytesPerRow) ||
        !take(header, offset, &planeWidthValue) || !take(header, offset, &planeHeightValue)) {
      return badLayout();
    }
    // Every row of every plane must lie inside the mapped surface.
    const unsigned __int128 end = static_cast<unsigned __int128>(bytesPerRow) * planeHeightValue + start;
    if (planeHeightValue == 0 || bytesPerRow == 0 || end > surface->size() || planeWidthValue > kMaxPixelBufferSide) {
      return badLayout();
    }
    plane = {surface->data() + start, static_cast<std::size_t>(bytesPerRow), static_cast<std::size_t>(planeWidthValue),
             static_cast<std::size_t>(planeHeightValue)};
  }
  std::shared_ptr<PixelBuffer> buffer;
  const CVReturn status = PixelBuffer::createWithPlanarBytes(width, height, static_cast<FourCharCode>(format), planes,
                                                             nullptr, &buffer);
  if (status != kCVReturnSuccess) return badLayout();
  buffer->surface_ = surface;
  return buffer;
}

}  // namespace platform::media
