#include "crashreporter/Source/AsyncMemory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace crashreporter {
namespace {

const std::uint64_t kPage = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));

// Two pages, the second PROT_NONE.
class GuardedPages : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(base_, MAP_FAILED);
    std::memset(base_, 0x5a, kPage);
    ASSERT_EQ(mprotect(static_cast<char*>(base_) + kPage, kPage, PROT_NONE), 0);
    drcrash_async_memory_init();
  }
  void TearDown() override {
    drcrash_async_memory_use_pipe_for_testing(false);
    munmap(base_, 2 * kPage);
  }
  std::uint64_t address(std::uint64_t offset = 0) const { return reinterpret_cast<std::uint64_t>(base_) + offset; }

  void* base_ = nullptr;
};

TEST_F(GuardedPages, ReadsReadableMemoryAndAnswersNotFoundForAProtectedPage) {
  for (const bool pipe : {false, true}) {
    drcrash_async_memory_use_pipe_for_testing(pipe);
    std::uint8_t bytes[16] = {};
    EXPECT_EQ(drcrash_async_task_memcpy(address(), 8, bytes, sizeof bytes), DRCRASH_ESUCCESS) << pipe;
    EXPECT_EQ(bytes[15], 0x5a);
    EXPECT_EQ(drcrash_async_task_memcpy(address(kPage), 0, bytes, 1), DRCRASH_ENOTFOUND) << pipe;
    EXPECT_EQ(drcrash_async_task_memcpy(address(kPage - 4), 0, bytes, 8), DRCRASH_ENOTFOUND) << "straddles; " << pipe;
    std::uint64_t word;
    EXPECT_EQ(drcrash_async_task_read_uint64(&drcrash_async_byteorder_swapped, address(), 0, &word), DRCRASH_ESUCCESS);
    EXPECT_EQ(word, 0x5a5a5a5a5a5a5a5aull);
  }
}

TEST_F(GuardedPages, RefusesOverflowingAddressesBeforeReading) {
  std::uint8_t byte;
  EXPECT_EQ(drcrash_async_task_memcpy(~0ull - 15, 32, &byte, 1), DRCRASH_ENOMEM);
  EXPECT_EQ(drcrash_async_task_memcpy(16, -32, &byte, 1), DRCRASH_ENOMEM);
}

TEST_F(GuardedPages, MemoryObjectKeepsTheReadableHeadAndChecksEveryRead) {
  drcrash_async_mobject mobj;
  EXPECT_EQ(drcrash_async_mobject_init(&mobj, address(), 0, false), DRCRASH_ENOMEM) << "length 0";
  EXPECT_EQ(drcrash_async_mobject_init(&mobj, address(kPage), 16, false), DRCRASH_ENOMEM) << "nothing readable";
  ASSERT_EQ(drcrash_async_mobject_init(&mobj, address(100), 2 * kPage - 100, false), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_mobject_length(&mobj), kPage - 100) << "ends at the first page's end";

  EXPECT_TRUE(drcrash_async_mobject_verify(&mobj, address(100), 0, kPage - 100));
  EXPECT_FALSE(drcrash_async_mobject_verify(&mobj, address(99), 0, 1)) << "one byte before";
  EXPECT_FALSE(drcrash_async_mobject_verify(&mobj, address(100), 0, kPage - 99)) << "one byte after";
  EXPECT_FALSE(drcrash_async_mobject_verify(&mobj, ~0ull, 1, 1)) << "overflow";

  std::uint32_t value;
  EXPECT_EQ(drcrash_async_mobject_read_uint32(&mobj, &drcrash_async_byteorder_native, address(kPage - 4), 0, &value),
            DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_mobject_read_uint32(&mobj, &drcrash_async_byteorder_native, address(kPage - 2), 0, &value),
            DRCRASH_EINVAL);

  // A full window over an unreadable tail still refuses the bytes it cannot read.
  ASSERT_EQ(drcrash_async_mobject_init(&mobj, address(), 2 * kPage, true), DRCRASH_ESUCCESS);
  EXPECT_EQ(drcrash_async_mobject_read_uint32(&mobj, &drcrash_async_byteorder_native, address(kPage), 0, &value),
            DRCRASH_EINVAL);
  EXPECT_EQ(drcrash_async_mobject_read_uint32(&mobj, &drcrash_async_byteorder_native, address(kPage - 100), 0, &value),
            DRCRASH_ESUCCESS);
}

TEST(AsyncSupportTest, WordsHelpersAndUtf8Prefixes) {
  EXPECT_STREQ(drcrash_async_strerror(0), "No error");
  EXPECT_STREQ(drcrash_async_strerror(8), "Not found");
  EXPECT_STREQ(drcrash_async_strerror(9), "The input data is in an unknown or invalid format.");
  EXPECT_STREQ(drcrash_async_strerror(10), "Unhandled error code");
  std::uint64_t sum;
  EXPECT_FALSE(drcrash_async_address_apply_offset(~0ull - 15, 32, &sum));
  EXPECT_TRUE(drcrash_async_address_apply_offset(100, -100, &sum));
  EXPECT_EQ(sum, 0u);
  EXPECT_LT(drcrash_async_strcmp("abc", "abd"), 0);
  EXPECT_GT(drcrash_async_strcmp("\xff", "a"), 0) << "bytes compare as unsigned";
  EXPECT_EQ(drcrash_async_strncmp("abcx", "abcy", 3), 0);

  const struct {
    std::string bytes;
    std::size_t prefix;
  } cases[] = {
      {"ab\xC3", 2},          {"ab\xC3\xA9", 4},       {"\xEF\xBB\xBFz", 4},      {"a\x80", 1},
      {"ok\0tail", 2},        {"\xF0\x9F\x8E\xAC", 4}, {"\xE2\x82", 0},           {"\xC3" "A", 0},
  };
  for (const auto& c : cases) {
    const std::string bytes = c.bytes == "ok" ? std::string("ok\0tail", 7) : c.bytes;
    EXPECT_EQ(drcrash_async_utf8_prefix_length(bytes.data(), bytes.size()), c.prefix) << c.bytes;
  }
  EXPECT_EQ(drcrash_async_utf8_prefix_length("ok\0tail", 7), 2u);
}

}  // namespace
}  // namespace crashreporter
