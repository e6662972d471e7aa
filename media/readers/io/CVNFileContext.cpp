#include "media/readers/io/CVNFileContext.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include "media/readers/ReaderLog.h"
#include "platform/Clock.h"

namespace media {

namespace {

double secondsSince(platform::Clock::TimePoint start) {
  return std::chrono::duration<double>(platform::Clock::current().now() - start).count();
}

void logCacheStaysOn() { logLine(1, "MovieAssetReader: Error: could not disable file cache"); }

}  // namespace

CVNFileContext::CVNFileContext()
    : pageReader_([](int fd, void* buffer, std::size_t size, off_t offset) { return ::pread(fd, buffer, size, offset); }),
      readAhead_(kReadAheadDepth) {}

CVNFileContext::~CVNFileContext() {
  freeFileContextMemoryPages();
  closeFile();
}

int CVNFileContext::openFile(const std::filesystem::path& path) {
  closeFile();
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC, 0666);
  direct_ = fd_ >= 0;
  if (fd_ < 0 && errno == EINVAL) {
    // The file system refuses O_DIRECT (tmpfs, some FUSE mounts).
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) logCacheStaysOn();
  }
  if (fd_ < 0) return errno;
  pos_ = 0;
  return 0;
}

void CVNFileContext::closeFile() {
  readAhead_.cancel();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  direct_ = false;
  currentMemoryPage_ = nullptr;
  for (auto& page : memoryPages_) page.endOffset = page.fileOffset = page.readOffset = 0;
  indexOfLastWrittenMemoryPage_ = -1;
}

bool CVNFileContext::allocateMemoryPages(std::int32_t count, std::uint64_t pageSize) {
  // A new ring starts where the old one had got to.
  pos_ = currentPosition();
  freeFileContextMemoryPages();
  memoryPageSize_ = pageSize;
  readAhead_.setPageSize(pageSize);
  for (std::int32_t i = 0; i < count; ++i) {
    void* bytes = nullptr;
    if (::posix_memalign(&bytes, kBlockSize, pageSize) != 0) break;
    memoryPages_.push_back(CVNMemoryPage{static_cast<std::uint8_t*>(bytes), 0, 0, 0});
  }
  usesMemoryPages_ = !memoryPages_.empty();
  return static_cast<std::int32_t>(memoryPages_.size()) == count;
}

void CVNFileContext::freeFileContextMemoryPages() {
  readAhead_.cancel();
  for (auto& page : memoryPages_) std::free(page.bytes);
  memoryPages_.clear();
  currentMemoryPage_ = nullptr;
  indexOfLastWrittenMemoryPage_ = -1;
  usesMemoryPages_ = false;
}

int CVNFileContext::copyFromPage(CVNMemoryPage& page, std::uint8_t* buffer, int size) {
  const std::int64_t available = page.endOffset - page.fileOffset - page.readOffset;
  const int count = static_cast<int>(std::clamp<std::int64_t>(available, 0, size));
  if (count > 0) std::memcpy(buffer, page.bytes + page.readOffset, static_cast<std::size_t>(count));
  page.readOffset += count;
  return count;
}

CVNMemoryPage* CVNFileContext::pageHolding(std::int64_t offset) {
  for (auto& page : memoryPages_) {
    if (page.endOffset > 0 && page.fileOffset <= offset && offset < page.endOffset) return &page;
  }
  return nullptr;
}

std::int64_t CVNFileContext::currentPosition() const {
  return currentMemoryPage_ ? currentMemoryPage_->fileOffset + currentMemoryPage_->readOffset : pos_;
}

void CVNFileContext::report(std::int32_t frames, double seconds) {
  if (report_) report_->report(frames, seconds);
}

int CVNFileContext::readDirectly(std::uint8_t* buffer, int size) {
  const ssize_t count = ::pread(fd_, buffer, static_cast<std::size_t>(size), pos_);
  if (count < 0) {
    const int error = errno;
    logLine(1, "MovieAssetReader: Warning: AVERROR: %i - %zi", error, count);
    return -error;
  }
  pos_ += count;
  return static_cast<int>(count);
}

int CVNFileContext::read(std::uint8_t* buffer, int size) {
  if (size <= 0) return 0;
  if (!usesMemoryPages_) return readDirectly(buffer, size);
  int copied = currentMemoryPage_ ? copyFromPage(*currentMemoryPage_, buffer, size) : 0;
  if (copied >= size) return copied;
  const std::int64_t offset = currentMemoryPage_ ? currentMemoryPage_->endOffset : pos_;
  if (CVNMemoryPage* page = pageHolding(offset)) {
    currentMemoryPage_ = page;
    page->readOffset = offset - page->fileOffset;
    return copied + copyFromPage(*page, buffer + copied, size - copied);
  }
  int result = 0;
  CVNMemoryPage* page = fillNextPage(offset, &result);
  if (!page) {
    if (result < 0) return result;
    currentMemoryPage_ = nullptr;
    pos_ = offset;
    return copied;
  }
  currentMemoryPage_ = page;
  return copied + copyFromPage(*page, buffer + copied, size - copied);
}

ssize_t CVNFileContext::readPage(void* buffer, std::size_t size, off_t offset) {
  ssize_t count = pageReader_(fd_, buffer, size, offset);
  if (count < 0 && errno == EINVAL && direct_) {
    // Opened with O_DIRECT but the volume refuses direct reads: go on buffered.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_DIRECT);
    direct_ = false;
    logCacheStaysOn();
    count = pageReader_(fd_, buffer, size, offset);
  }
  dropFromCacheIfBuffered(offset, count);
  return count;
}

void CVNFileContext::dropFromCacheIfBuffered(off_t offset, ssize_t count) {
  if (count > 0 && !direct_) ::posix_fadvise(fd_, offset, count, POSIX_FADV_DONTNEED);
}

CVNMemoryPage* CVNFileContext::fillNextPage(std::int64_t offset, int* result) {
  const auto index = static_cast<std::size_t>(indexOfLastWrittenMemoryPage_ + 1) % memoryPages_.size();
  indexOfLastWrittenMemoryPage_ = static_cast<std::int32_t>(index);
  CVNMemoryPage& page = memoryPages_[index];
  if (currentMemoryPage_ == &page) currentMemoryPage_ = nullptr;
  page.endOffset = 0;
  // Direct reads start on a block boundary; the page then begins a little
  // before the offset asked for (or where the page read ahead began).
  std::int64_t start = offset - offset % static_cast<std::int64_t>(kBlockSize);

  const auto began = platform::Clock::current().now();
  std::shared_ptr<SlowReadWatchdog> watchdog;
  if (report_) watchdog = SlowReadWatchdog::arm(report_);
  ssize_t count = 0;
  int error = 0;
  if (const auto ahead = readAhead_.take(offset, &page.bytes, &start)) {
    count = *ahead;
    dropFromCacheIfBuffered(start, count);
  } else {
    count = readPage(page.bytes, memoryPageSize_, start);
    error = errno;
  }
  if (watchdog) watchdog->finish();
  const double elapsed = secondsSince(began);
  // A full page read in order (demuxers skip a little now and then): the
  // next ones are likely wanted next.
  const bool inOrder = lastFilledEnd_ >= 0 && start >= lastFilledEnd_ &&
                       start - lastFilledEnd_ < static_cast<std::int64_t>(memoryPageSize_);
  lastFilledEnd_ = count > 0 ? start + count : -1;
  if (inOrder && count == static_cast<ssize_t>(memoryPageSize_)) {
    for (std::size_t ahead = 1; ahead <= kReadAheadDepth; ++ahead) {
      readAhead_.request(fd_, start + count * static_cast<std::int64_t>(ahead));
    }
  }

  if (count < 0) {
    report(0, elapsed);
    logLine(1, "MovieAssetReader: Warning: AVERROR: %i - %zi", error, count);
    *result = -error;
    return nullptr;
  }
  if (start + count <= offset) {
    report(0, elapsed);
    *result = 0;
    return nullptr;
  }
  report(kFramesPerPage, elapsed);
  page.fileOffset = start;
  page.endOffset = start + count;
  page.readOffset = offset - start;
  return &page;
}

std::int64_t CVNFileContext::seek(std::int64_t offset, int whence) {
  if (whence & AVSEEK_SIZE) {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) return -errno;
    return status.st_size;
  }
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += currentPosition();
      break;
    case SEEK_END: {
      struct stat status {};
      if (::fstat(fd_, &status) != 0) return -errno;
      offset += status.st_size;
      break;
    }
    default:
      return -EINVAL;
  }
  if (offset < 0) return -EINVAL;
  if (usesMemoryPages_) {
    if (CVNMemoryPage* page = pageHolding(offset)) {
      currentMemoryPage_ = page;
      page->readOffset = offset - page->fileOffset;
      pos_ = offset;
      return offset;
    }
    currentMemoryPage_ = nullptr;
  }
  pos_ = offset;
  return offset;
}

int CVNFileContext::readCallback(void* opaque, std::uint8_t* buffer, int size) {
  const int result = static_cast<CVNFileContext*>(opaque)->read(buffer, size);
  return result == 0 ? AVERROR_EOF : result;
}

std::int64_t CVNFileContext::seekCallback(void* opaque, std::int64_t offset, int whence) {
  return static_cast<CVNFileContext*>(opaque)->seek(offset, whence);
}

}  // namespace media
