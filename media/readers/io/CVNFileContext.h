#pragma once
// The custom file I/O under the demuxer: the read and seek callbacks serve
// the file from a ring of large pages aligned to the block size, read with
// the page cache bypassed (O_DIRECT; where the file system refuses it,
// buffered reads dropped from the cache page by page). Pages are refilled
// round-robin; each page read reports "10 frames in its time" to the reader's
// counters, and a watchdog reports a read that blocks. While the file is read
// in order, the pages after the one just filled are read ahead
// (PageReadAhead), so the disk works while the demuxer copies.
//
// Threads: the callbacks run on the thread driving the demuxer, one call at a
// time; the read-ahead is the kernel's, waited for before its page is used,
// the ring changes or the file closes; only the reports reach the main queue.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "media/readers/io/PageReadAhead.h"
#include "media/readers/io/SlowReadWatchdog.h"

namespace media {

struct CVNMemoryPage {
  std::uint8_t* bytes = nullptr;  // memoryPageSize bytes, block aligned
  std::int64_t fileOffset = 0;    // file offset of bytes[0]
  std::int64_t endOffset = 0;     // just past the last byte held; 0 while empty
  std::int64_t readOffset = 0;    // next byte to hand out, relative to fileOffset
};

class CVNFileContext {
 public:
  // One page read: pread's contract. Tests replace it to block or fail.
  using PageReader = std::function<ssize_t(int fd, void* buffer, std::size_t size, off_t offset)>;

  static constexpr std::uint64_t kPageSize = 1048576;
  static constexpr std::uint64_t kSMBPageSize = 49152;
  static constexpr std::uint64_t kBlockSize = 4096;
  static constexpr std::int32_t kFramesPerPage = 10;

  CVNFileContext();
  ~CVNFileContext();
  CVNFileContext(const CVNFileContext&) = delete;
  CVNFileContext& operator=(const CVNFileContext&) = delete;

  // Opens read-only; 0 or the system error. Logs when the cache stays on.
  int openFile(const std::filesystem::path& path);
  void closeFile();
  int fd() const { return fd_; }
  bool bypassesCache() const { return direct_; }

  // `count` empty pages of `pageSize` (a multiple of the block size); false
  // when memory is short (pages made so far are kept and counted).
  bool allocateMemoryPages(std::int32_t count, std::uint64_t pageSize);
  void freeFileContextMemoryPages();
  bool usesMemoryPages() const { return usesMemoryPages_; }
  std::uint64_t memoryPageSize() const { return memoryPageSize_; }
  std::int32_t numberOfMemoryPages() const { return static_cast<std::int32_t>(memoryPages_.size()); }

  // Bytes delivered, 0 at the end of the file, or minus the system error.
  int read(std::uint8_t* buffer, int size);
  // New position, the file size for AVSEEK_SIZE, or minus the system error.
  std::int64_t seek(std::int64_t offset, int whence);

  // The callbacks given to the demuxer (opaque = this context); the end of
  // the file is the library's end-of-file value there.
  static int readCallback(void* opaque, std::uint8_t* buffer, int size);
  static std::int64_t seekCallback(void* opaque, std::int64_t offset, int whence);

  // Where reads report; none reports nowhere.
  void setReadReport(std::shared_ptr<ReadReport> report) { report_ = std::move(report); }
  void setPageReader(PageReader reader) { pageReader_ = std::move(reader); }

 private:
  int copyFromPage(CVNMemoryPage& page, std::uint8_t* buffer, int size);
  CVNMemoryPage* pageHolding(std::int64_t offset);
  int readDirectly(std::uint8_t* buffer, int size);
  // Fills the next page of the ring from `offset`; the page or null with
  // `result` 0 (end of file) or minus the error.
  CVNMemoryPage* fillNextPage(std::int64_t offset, int* result);
  ssize_t readPage(void* buffer, std::size_t size, off_t offset);
  void dropFromCacheIfBuffered(off_t offset, ssize_t count);

  void report(std::int32_t frames, double seconds);
  std::int64_t currentPosition() const;

  int fd_ = -1;
  bool direct_ = false;
  std::int64_t pos_ = 0;
  bool usesMemoryPages_ = false;
  std::vector<CVNMemoryPage> memoryPages_;
  std::int32_t indexOfLastWrittenMemoryPage_ = -1;
  std::uint64_t memoryPageSize_ = 0;
  CVNMemoryPage* currentMemoryPage_ = nullptr;
  std::shared_ptr<ReadReport> report_;
  PageReader pageReader_;

  // Pages read ahead while the file is read in order.
  static constexpr std::size_t kReadAheadDepth = 2;
  std::int64_t lastFilledEnd_ = -1;  // where the last page filled ended
  PageReadAhead readAhead_;
};

}  // namespace media
