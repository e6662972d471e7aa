#include <dlfcn.h>
#include <execinfo.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "UnwindChain.h"
#include "crashreporter/Source/AsyncImageList.h"
#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/FrameWalker.h"

namespace crashreporter {
namespace {

std::string runCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  std::array<char, 4096> buffer;
  while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
  pclose(pipe);
  return output;
}

std::string hex(const std::uint8_t* bytes, std::size_t length) {
  std::string out;
  char b[3];
  for (std::size_t i = 0; i < length; ++i) out += (std::snprintf(b, sizeof b, "%02x", bytes[i]), b);
  return out;
}

class LiveImages : public ::testing::Test {
 protected:
  void SetUp() override {
    drcrash_async_memory_init();
    drcrash_async_loaded_images_init(&images_);
    drcrash_async_loaded_images_refresh(&images_);
  }
  void TearDown() override { drcrash_async_loaded_images_free(&images_); }

  drcrash_async_image* imageNamed(const std::string& suffix) {
    for (auto* image = drcrash_async_loaded_images_next(&images_, nullptr); image != nullptr;
         image = drcrash_async_loaded_images_next(&images_, image)) {
      const std::string name = image->name;
      if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) return image;
    }
    return nullptr;
  }

  drcrash_async_loaded_images images_;
};

struct Walk {
  drcrash_async_loaded_images* images;
  std::vector<std::uint64_t> walked;
  std::vector<std::uint64_t> expected;
};

drcrash_error_t walkFromCapture(drcrash_async_thread_state* state, void* context) {
  auto* walk = static_cast<Walk*>(context);
  drcrash_async_frame_walker walker;
  drcrash_async_frame_walker_init(&walker, state, walk->images);
  while (walk->walked.size() < 64 && drcrash_async_frame_walker_next(&walker) == DRCRASH_FRAME_ESUCCESS) {
    std::uint64_t pc;
    if (drcrash_async_frame_walker_get_reg(&walker, DRCRASH_REG_IP, &pc) != DRCRASH_FRAME_ESUCCESS) break;
    walk->walked.push_back(pc);
  }
  return DRCRASH_ESUCCESS;
}

int probe(void* context) {
  auto* walk = static_cast<Walk*>(context);
  void* frames[64];
  const int count = backtrace(frames, 64);
  for (int i = 0; i < count; ++i) walk->expected.push_back(reinterpret_cast<std::uint64_t>(frames[i]));
  drcrash_async_thread_state_current(walkFromCapture, context);
  return 0;
}

TEST_F(LiveImages, WalksTheSameReturnAddressesAsTheLibraryBacktrace) {
  Walk walk{&images_, {}, {}};
  crash_test::unwindChainOuter(probe, &walk);
  // Frame 0 differs (each records its own call site), and a sanitizer's
  // interceptor may add a frame of its own in front of backtrace()'s list; from
  // the caller on, the return addresses through inner, middle (no frame
  // pointer), outer and this test must agree.
  ASSERT_GE(walk.walked.size(), 6u);
  std::size_t offset = 0;
  while (offset < walk.expected.size() && walk.expected[offset] != walk.walked[1]) ++offset;
  ASSERT_LE(offset, 2u) << "the caller of the probe is not in backtrace()'s list";
  ASSERT_GE(walk.expected.size(), offset + 5);
  for (std::size_t i = 1; i < 6; ++i) EXPECT_EQ(walk.walked[i], walk.expected[offset + i - 1]) << "frame " << i;
}

TEST_F(LiveImages, SnapshotHoldsThisProgramWithItsBuildId) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  ASSERT_GT(length, 0);
  path[length] = '\0';
  drcrash_async_image* program = drcrash_async_loaded_images_next(&images_, nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_STREQ(program->name, path);
  ASSERT_TRUE(program->has_uuid);
  const std::string notes = runCommand(std::string(CRASH_TEST_READELF) + " -n " + path);
  const auto at = notes.find("Build ID: ");
  ASSERT_NE(at, std::string::npos) << notes;
  EXPECT_EQ(hex(program->uuid, 16), notes.substr(at + 10, 32));
  EXPECT_TRUE(drcrash_async_image_contains_address(program, reinterpret_cast<std::uint64_t>(&probe)));
  EXPECT_NE(program->eh_frame_hdr, 0u);
  EXPECT_NE(imageNamed("libc.so.6"), nullptr);
}

TEST_F(LiveImages, FollowsDlopenAndDlcloseOnRefresh) {
  void* library = dlopen(CRASH_TEST_LOADABLE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto function = reinterpret_cast<std::uint64_t>(dlsym(library, "crashTestLoadableFunction"));
  EXPECT_EQ(drcrash_async_loaded_images_find_image_for_address(&images_, function), nullptr) << "not yet refreshed";
  drcrash_async_loaded_images_refresh(&images_);
  drcrash_async_image* image = drcrash_async_loaded_images_find_image_for_address(&images_, function);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(std::string(image->name).find("crash_test_loadable"), std::string::npos);

  struct Found {
    std::uint64_t address = 0;
    std::string name;
  } found;
  ASSERT_EQ(drcrash_async_image_find_symbol(image, function + 4,
                                            [](std::uint64_t address, const char* name, void* context) {
                                              auto* f = static_cast<Found*>(context);
                                              f->address = address;
                                              f->name = name;
                                            },
                                            &found),
            DRCRASH_ESUCCESS);
  EXPECT_EQ(found.address, function);
  EXPECT_EQ(found.name, "crashTestLoadableFunction");

  dlclose(library);
  drcrash_async_loaded_images_refresh(&images_);
  EXPECT_EQ(drcrash_async_loaded_images_find_image_for_address(&images_, function), nullptr);
  EXPECT_EQ(imageNamed("libcrash_test_loadable.so"), nullptr);
}

TEST(FrameWalkerTest, EndsOnLowProgramCountersAndBadChains) {
  drcrash_async_loaded_images images;
  drcrash_async_loaded_images_init(&images);
  std::uint64_t frames[2][2];  // [saved fp, return address]
  const auto fp = [&](int i) { return reinterpret_cast<std::uint64_t>(frames[i]); };
  const drcrash_async_frame_reader fpOnly[] = {drcrash_async_frame_fp_reader};

  const struct {
    const char* name;
    std::uint64_t savedFp, returnAddress;
    drcrash_frame_status_t status;
  } cases[] = {
      {"pc 0x1000 ends the walk", 0, 0x1000, DRCRASH_FRAME_ENOFRAME},
      {"pc 0x1001 is accepted", 0, 0x1001, DRCRASH_FRAME_ESUCCESS},
  };
  for (const auto& c : cases) {
    frames[0][0] = c.savedFp;
    frames[0][1] = c.returnAddress;
    drcrash_async_thread_state state;
    drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_IP, 0x5000);
    drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_FP, fp(0));
    drcrash_async_frame_walker walker;
    drcrash_async_frame_walker_init(&walker, &state, &images);
    ASSERT_EQ(drcrash_async_frame_walker_next_with_readers(&walker, fpOnly, 1), DRCRASH_FRAME_ESUCCESS) << "first frame";
    std::uint64_t value;
    EXPECT_EQ(drcrash_async_frame_walker_get_reg(&walker, DRCRASH_REG_IP, &value), DRCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(drcrash_async_frame_walker_next_with_readers(&walker, fpOnly, 1), c.status) << c.name;
    if (c.status == DRCRASH_FRAME_ESUCCESS) {
      EXPECT_EQ(drcrash_async_frame_walker_get_reg(&walker, DRCRASH_REG_SP, &value), DRCRASH_FRAME_ENOTSUP)
          << "the frame-pointer reader recovers pc and fp only";
      EXPECT_EQ(drcrash_async_frame_walker_next_with_readers(&walker, fpOnly, 1), DRCRASH_FRAME_ENOFRAME)
          << "a zero frame pointer ends the walk";
    }
  }
  // A chain that goes the wrong way (towards lower addresses) is corrupt.
  frames[1][0] = fp(0);
  frames[1][1] = 0x7000;
  frames[0][0] = fp(1) - 64;
  frames[0][1] = 0x6000;
  drcrash_async_thread_state state;
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_IP, 0x5000);
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_FP, fp(1));
  drcrash_async_frame_walker walker;
  drcrash_async_frame_walker_init(&walker, &state, &images);
  ASSERT_EQ(drcrash_async_frame_walker_next_with_readers(&walker, fpOnly, 1), DRCRASH_FRAME_ESUCCESS);
  EXPECT_EQ(drcrash_async_frame_walker_next_with_readers(&walker, fpOnly, 1), DRCRASH_FRAME_ESUCCESS);
  EXPECT_EQ(drcrash_async_frame_walker_next_with_readers(&walker, fpOnly, 1), DRCRASH_FRAME_EBADFRAME);
  EXPECT_EQ(drcrash_async_frame_walker_next_with_readers(&walker, fpOnly, 0), DRCRASH_FRAME_EINVAL);
}

}  // namespace
}  // namespace crashreporter
