// The crash log buffer's slots and its crash-time writer, driven directly: what
// a slot keeps, what the writer leaves in each file, and that a file is never
// a torn archive while other threads keep storing.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "telemetry/services/crashes/DRTLCrashesLogBuffer.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::crashes {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

class DRTLCrashesLogBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The slot paths are fixed once per process: every test uses the same folder.
    static testing_support::TemporaryDirectory* folder = new testing_support::TemporaryDirectory;
    directory_ = folder->path();
    for (const auto& entry : fs::directory_iterator(directory_)) fs::remove(entry.path());
    DRTLCrashesLogBuffer::setUp(directory_.string());
  }

  fs::path bufferFile(std::size_t slot) const {
    return directory_ / (std::to_string(slot) + "." + kDRTLBufferFileExtension);
  }
  fs::path tokenFile(std::size_t slot) const {
    return directory_ / (std::to_string(slot) + "." + kDRTLTargetTokenFileExtension);
  }

  fs::path directory_;
};

TEST_F(DRTLCrashesLogBufferTest, TheWriterLeavesEachSlotsArchiveAndTokenAndClearsStaleTokens) {
  ASSERT_TRUE(DRTLCrashesLogBuffer::store("archive-a", "token-a", "id-a", 1));
  ASSERT_TRUE(DRTLCrashesLogBuffer::store("archive-b", "", "id-b", 2));
  const std::size_t a = *DRTLCrashesLogBuffer::slotOf("id-a");
  const std::size_t b = *DRTLCrashesLogBuffer::slotOf("id-b");
  // A token left by an earlier crash must not ride with this slot's log.
  std::ofstream(tokenFile(b)) << "stale";

  DRTLCrashesLogBuffer::writeAtCrashTime(nullptr, nullptr, nullptr);

  EXPECT_EQ(contents(bufferFile(a)), "archive-a");
  EXPECT_EQ(contents(tokenFile(a)), "token-a");
  EXPECT_EQ(contents(bufferFile(b)), "archive-b");
  EXPECT_FALSE(fs::exists(tokenFile(b)));
  for (std::size_t slot = 0; slot < kDRTLCrashesBufferSlotCount; ++slot) {
    if (slot != a && slot != b) EXPECT_EQ(fs::file_size(bufferFile(slot)), 0u) << slot;
  }
}

TEST_F(DRTLCrashesLogBufferTest, FinishedLogsLeaveTheirSlotAndOversizedLogsAreNotKept) {
  ASSERT_TRUE(DRTLCrashesLogBuffer::store("archive", "", "done", 1));
  EXPECT_TRUE(DRTLCrashesLogBuffer::remove("done"));
  EXPECT_FALSE(DRTLCrashesLogBuffer::slotOf("done"));
  EXPECT_FALSE(DRTLCrashesLogBuffer::remove("done"));

  EXPECT_TRUE(DRTLCrashesLogBuffer::store(std::string(kDRTLCrashesBufferSlotCapacity, 'x'), "", "full", 2));
  EXPECT_FALSE(DRTLCrashesLogBuffer::store(std::string(kDRTLCrashesBufferSlotCapacity + 1, 'x'), "", "over", 3));
  EXPECT_FALSE(DRTLCrashesLogBuffer::slotOf("over"));
}

TEST_F(DRTLCrashesLogBufferTest, TheSixtyFirstLogTakesTheOldestSlot) {
  std::set<std::size_t> used;
  for (std::size_t i = 0; i < kDRTLCrashesBufferSlotCount; ++i) {
    // Stored out of time order: the oldest is the one with the smallest time, not the first stored.
    ASSERT_TRUE(DRTLCrashesLogBuffer::store("log", "", "id-" + std::to_string(i), i == 7 ? 0.5 : 10.0 + i));
    used.insert(*DRTLCrashesLogBuffer::slotOf("id-" + std::to_string(i)));
  }
  EXPECT_EQ(used.size(), kDRTLCrashesBufferSlotCount);
  const std::size_t oldest = *DRTLCrashesLogBuffer::slotOf("id-7");

  ASSERT_TRUE(DRTLCrashesLogBuffer::store("newest", "", "id-60", 100));
  EXPECT_EQ(DRTLCrashesLogBuffer::slotOf("id-60"), oldest);
  EXPECT_FALSE(DRTLCrashesLogBuffer::slotOf("id-7"));
  EXPECT_TRUE(DRTLCrashesLogBuffer::slotOf("id-0"));
}

TEST_F(DRTLCrashesLogBufferTest, FilesHoldOneWholeArchiveOrNothingWhileEightThreadsStore) {
  // Each archive is one repeated letter of its own length, so a torn copy shows.
  const auto whole = [](const std::string& bytes) {
    return bytes.empty() || (bytes.size() == 1000u * static_cast<std::size_t>(bytes[0] - 'a' + 1) &&
                             bytes.find_first_not_of(bytes[0]) == std::string::npos);
  };
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; !stop.load(); ++i) {
        const char letter = static_cast<char>('a' + (t * 3 + i) % 26);
        const std::string id = std::to_string(t) + "-" + std::to_string(i);
        DRTLCrashesLogBuffer::store(std::string(1000u * static_cast<std::size_t>(letter - 'a' + 1), letter), "", id,
                                    static_cast<double>(i));
        if (i % 3 == 0) DRTLCrashesLogBuffer::remove(id);
      }
    });
  }
  int torn = 0;
  for (int round = 0; round < 30; ++round) {
    DRTLCrashesLogBuffer::writeAtCrashTime(nullptr, nullptr, nullptr);
    for (std::size_t slot = 0; slot < kDRTLCrashesBufferSlotCount; ++slot) torn += !whole(contents(bufferFile(slot)));
  }
  stop = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace telemetry::crashes
