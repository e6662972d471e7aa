// File digests stream the file: known answers, errors, short reads from a
// pipe, and a file past 4 GiB (sparse, so it costs no disk) hashed with flat
// memory.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "foundation/FileDigest.h"
#include "tests/foundation/HexBytes.h"
#include "tests/support/TemporaryDirectory.h"

namespace foundation {
namespace {

using foundation_test::hexOf;

class FileDigestTest : public ::testing::Test {
 protected:
  std::filesystem::path writeFile(const std::string& name, const std::string& contents) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }

  testing_support::TemporaryDirectory folder_;
};

TEST_F(FileDigestTest, MatchesKnownAnswers) {
  struct Case {
    DigestAlgorithm algorithm;
    std::string contents;
    const char* hex;
  };
  const Case cases[] = {
      {DigestAlgorithm::SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {DigestAlgorithm::SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      // Spans several read chunks.
      {DigestAlgorithm::SHA1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {DigestAlgorithm::MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {DigestAlgorithm::SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
  };
  for (const Case& c : cases) {
    const platform::Result<platform::Data> digest = digestOfFile(c.algorithm, writeFile("file", c.contents));
    ASSERT_TRUE(digest.ok()) << digest.error().describe();
    EXPECT_EQ(hexOf(*digest), c.hex) << "length " << c.contents.size();
  }
  EXPECT_EQ(hexOf(*sha1DigestOfFile(writeFile("abc", "abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST_F(FileDigestTest, ReportsOpenAndReadFailures) {
  const platform::Result<platform::Data> missing = sha1DigestOfFile(folder_ / "missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(missing.error().is(kFileDigestErrorDomain, FileDigestErrorCode::OpenFailed));
  EXPECT_EQ(missing.error().userInfo.at("errno").integerOr(0), ENOENT);

  const platform::Result<platform::Data> folder = sha1DigestOfFile(folder_.path());
  ASSERT_FALSE(folder.ok());
  EXPECT_TRUE(folder.error().is(kFileDigestErrorDomain, FileDigestErrorCode::ReadFailed));
}

// A pipe hands out whatever the writer has written so far: reads come back
// short, and the digest must still cover every byte up to end of file.
TEST_F(FileDigestTest, ShortReadsFromAPipeAreResumed) {
  const std::filesystem::path fifo = folder_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    // A reader that went away must end this thread with EPIPE, not the test
    // process with SIGPIPE.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    const std::string piece(4093, 'a');  // odd sizes, never chunk-aligned
    std::size_t left = 1000000;
    while (left > 0) {
      const std::size_t n = std::min(left, piece.size());
      if (::write(fd, piece.data(), n) != static_cast<ssize_t>(n)) break;
      left -= n;
    }
    ::close(fd);
  });
  const platform::Result<platform::Data> digest = sha1DigestOfFile(fifo);
  // Should the digest not have opened the pipe, this lets the writer's open
  // return so the thread ends instead of hanging the test.
  ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  writer.join();
  ASSERT_TRUE(digest.ok()) << digest.error().describe();
  EXPECT_EQ(hexOf(*digest), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

long peakResidentKilobytes() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A sparse file in shared memory where there is some: there, holes read as
// the kernel's zero page, while a disk file system fills the page cache and
// takes many times as long. Removed on destruction.
class SparseFile {
 public:
  explicit SparseFile(const std::filesystem::path& fallbackFolder) {
    std::string pattern = "/dev/shm/vz-sparse-XXXXXX";
    int fd = ::access("/dev/shm", W_OK) == 0 ? ::mkstemp(pattern.data()) : -1;
    if (fd >= 0) {
      ::close(fd);
      path_ = pattern;
    } else {
      path_ = fallbackFolder / "sparse";
    }
  }
  ~SparseFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// 4 GiB + 3 bytes: zeros, then "xyz" at offset 2^32. A 32-bit size would see
// only 3 bytes; reading the whole file into memory would raise the peak
// resident size by 4 GiB.
TEST_F(FileDigestTest, HashesFilesBeyondFourGiBWithFlatMemory) {
  const SparseFile file(folder_.path());
  const std::filesystem::path& path = file.path();
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "xyz", 3, off_t{1} << 32), 3);
    ::close(fd);
  }
  ASSERT_EQ(std::filesystem::file_size(path), (std::uintmax_t{1} << 32) + 3);

  const long peakBefore = peakResidentKilobytes();
  const platform::Result<platform::Data> digest = sha1DigestOfFile(path);
  const long growthKilobytes = peakResidentKilobytes() - peakBefore;

  ASSERT_TRUE(digest.ok()) << digest.error().describe();
  EXPECT_EQ(hexOf(*digest), "098701b0e485093f4ec0058ac9bcf9b05c746b7c");
  EXPECT_LT(growthKilobytes, 64 * 1024) << "peak memory grew by " << growthKilobytes << " KiB";
}

}  // namespace
}  // namespace foundation
