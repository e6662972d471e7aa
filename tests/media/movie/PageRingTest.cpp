// The page ring under the demuxer: bytes equal the file under random reads
// and seeks, on direct reads and on the buffered fallback; a page read that
// blocks is reported by the watchdog on the main queue.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/io_uring.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include "media/readers/io/CVNFileContext.h"
#include "platform/Clock.h"
#include "tests/media/movie/MovieFixtures.h"
#include "tests/support/RunLoopWait.h"

namespace {

using media::CVNFileContext;

std::vector<std::uint8_t> writeRandomFile(const std::filesystem::path& path, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::mt19937 random(7);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(size));
  return bytes;
}

// Reads at random places through the callbacks and compares with the file.
void expectRandomReadsMatch(CVNFileContext& context, const std::vector<std::uint8_t>& file) {
  std::mt19937 random(11);
  const auto size = static_cast<std::int64_t>(file.size());
  EXPECT_EQ(CVNFileContext::seekCallback(&context, 0, AVSEEK_SIZE), size);
  std::vector<std::uint8_t> buffer(300000);
  for (int i = 0; i < 400; ++i) {
    const std::int64_t offset = i % 10 == 0 ? size - 100 : static_cast<std::int64_t>(random() % file.size());
    ASSERT_EQ(CVNFileContext::seekCallback(&context, offset, SEEK_SET), offset);
    std::int64_t at = offset;
    const int want = 1 + static_cast<int>(random() % buffer.size());
    // A short read is allowed: keep reading until the request or the end.
    for (int got = 0; got < want;) {
      const int count = CVNFileContext::readCallback(&context, buffer.data(), want - got);
      if (count == AVERROR_EOF) {
        ASSERT_EQ(at, size) << "end of file only at the end";
        break;
      }
      ASSERT_GT(count, 0);
      ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + count, file.begin() + at)) << "at " << at;
      at += count;
      got += count;
    }
  }
}

TEST(PageRing, RandomReadsAndSeeksMatchTheFile) {
  const auto path = movie_fixtures::fixtureFolder() / "random.bin";
  const auto file = writeRandomFile(path, 3 * 1048576 + 12345);
  for (const int pages : {1, 3}) {
    CVNFileContext context;
    ASSERT_EQ(context.openFile(path), 0);
    ASSERT_TRUE(context.allocateMemoryPages(pages, 65536));
    expectRandomReadsMatch(context, file);
  }
}

bool kernelAllowsAsynchronousReads() {
  io_uring_params params{};
  const int ring = static_cast<int>(::syscall(__NR_io_uring_setup, 1, &params));
  if (ring >= 0) ::close(ring);
  return ring >= 0;
}

TEST(PageRing, ReadInOrderMostPagesComeFromTheReadAhead) {
  if (!kernelAllowsAsynchronousReads()) GTEST_SKIP() << "the kernel refuses asynchronous reads here";
  const auto path = movie_fixtures::fixtureFolder() / "sequential.bin";
  constexpr std::size_t kPage = 65536;
  const auto file = writeRandomFile(path, 10 * kPage + 1234);
  CVNFileContext context;
  ASSERT_EQ(context.openFile(path), 0);
  ASSERT_TRUE(context.allocateMemoryPages(1, kPage));
  int pagesReadHere = 0;
  context.setPageReader([&](int fd, void* buffer, std::size_t size, off_t offset) {
    ++pagesReadHere;
    return ::pread(fd, buffer, size, offset);
  });
  std::vector<std::uint8_t> read;
  std::vector<std::uint8_t> buffer(kPage);
  for (int count; (count = CVNFileContext::readCallback(&context, buffer.data(), static_cast<int>(kPage))) > 0;) {
    read.insert(read.end(), buffer.begin(), buffer.begin() + count);
  }
  EXPECT_TRUE(read == file);
  // The first two pages show the order; the last read finds the end.
  EXPECT_LE(pagesReadHere, 3);
}

TEST(PageRing, FallsBackToBufferedReadsWhenDirectReadsAreRefused) {
  const auto path = movie_fixtures::fixtureFolder() / "fallback.bin";
  const auto file = writeRandomFile(path, 1048576 + 777);
  CVNFileContext context;
  ASSERT_EQ(context.openFile(path), 0);
  ASSERT_TRUE(context.allocateMemoryPages(2, 49152));
  context.setPageReader([&](int fd, void* buffer, std::size_t size, off_t offset) -> ssize_t {
    if (::fcntl(fd, F_GETFL) & O_DIRECT) {
      errno = EINVAL;
      return -1;
    }
    return ::pread(fd, buffer, size, offset);
  });
  expectRandomReadsMatch(context, file);
  EXPECT_FALSE(context.bypassesCache());
}

TEST(PageRing, ReadErrorsAreMinusTheSystemError) {
  const auto path = movie_fixtures::fixtureFolder() / "error.bin";
  writeRandomFile(path, 100000);
  CVNFileContext context;
  ASSERT_EQ(context.openFile(path), 0);
  ASSERT_TRUE(context.allocateMemoryPages(1, 65536));
  context.setPageReader([](int, void*, std::size_t, off_t) -> ssize_t {
    errno = EIO;
    return -1;
  });
  std::uint8_t buffer[16];
  EXPECT_EQ(CVNFileContext::readCallback(&context, buffer, sizeof buffer), -EIO);
}

struct Report {
  std::int32_t frames;
  double seconds;
};

TEST(PageRing, BlockedPageReadIsReportedEveryHalfSecondAfterOne) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  const auto path = movie_fixtures::fixtureFolder() / "blocked.bin";
  writeRandomFile(path, 200000);

  std::mutex mutex;
  std::vector<Report> reports;
  const auto count = [&] {
    std::lock_guard lock(mutex);
    return reports.size();
  };
  CVNFileContext context;
  ASSERT_EQ(context.openFile(path), 0);
  ASSERT_TRUE(context.allocateMemoryPages(1, 65536));
  context.setReadReport(std::make_shared<media::ReadReport>([&](std::int32_t frames, double seconds) {
    std::lock_guard lock(mutex);
    reports.push_back({frames, seconds});
  }));
  testing_support::Signal entered, release;
  context.setPageReader([&](int fd, void* buffer, std::size_t size, off_t offset) {
    entered.raise();
    release.waitFor();
    return ::pread(fd, buffer, size, offset);
  });

  std::uint8_t buffer[1000];
  int result = 0;
  std::thread reader([&] { result = CVNFileContext::readCallback(&context, buffer, sizeof buffer); });
  ASSERT_TRUE(entered.waitFor());
  for (std::size_t expected = 1; expected <= 3; ++expected) {
    clock.advance(expected == 1 ? std::chrono::milliseconds(1000) : std::chrono::milliseconds(500));
    ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return count() == expected; }, "a watchdog report"));
  }
  clock.advance(std::chrono::milliseconds(200));  // 2.2 s: the read returns
  release.raise();
  reader.join();
  EXPECT_EQ(result, static_cast<int>(sizeof buffer));
  clock.advance(std::chrono::milliseconds(1000));
  testing_support::runMainLoopUntil([] { return true; });

  std::lock_guard lock(mutex);
  ASSERT_EQ(reports.size(), 4u) << "nothing more once the read has returned";
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(reports[i].frames, 0);
    EXPECT_DOUBLE_EQ(reports[i].seconds, 0.5);
  }
  EXPECT_EQ(reports[3].frames, CVNFileContext::kFramesPerPage);
  EXPECT_NEAR(reports[3].seconds, 2.2, 1e-9);
}

}  // namespace
