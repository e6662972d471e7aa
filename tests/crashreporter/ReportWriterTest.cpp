#include "crashreporter/Source/DCRCrashReportWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "CrashReportFixtures.h"
#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/DCRCrashReport.h"

namespace crashreporter {
namespace {

TEST(ReportWriterTest, NamesSignalsAndCodesThroughTheSystemConstants) {
  const struct {
    int signo, code;
    const char* name;
    const char* codeName;
  } cases[] = {
      {SIGABRT, 0, "SIGABRT", "#0"},        {SIGTRAP, 0, "SIGTRAP", "#0"},         {SIGTRAP, TRAP_TRACE, "SIGTRAP", "TRAP_TRACE"},
      {SIGBUS, BUS_ADRERR, "SIGBUS", "BUS_ADRERR"}, {SIGFPE, FPE_INTDIV, "SIGFPE", "FPE_INTDIV"},
      {SIGSEGV, SI_USER, "SIGSEGV", "#0"},  {SIGSEGV, SI_TKILL, "SIGSEGV", "#-6"}, {40, 1, "#40", "#1"},
  };
  for (const auto& c : cases) {
    char name[16], code[16];
    drcrash_log_signal_name(c.signo, name, sizeof name);
    drcrash_log_signal_code_name(c.signo, c.code, code, sizeof code);
    EXPECT_STREQ(name, c.name) << c.signo;
    EXPECT_STREQ(code, c.codeName) << c.signo << " " << c.code;
  }
  EXPECT_EQ(SIGBUS, 7) << "Linux numbering";
}

struct Captured {
  drcrash_log_writer* writer;
  drcrash_async_loaded_images* images;
  std::uint64_t limit;
  crash_test::Bytes bytes;
  drcrash_error_t status = DRCRASH_EUNKNOWN;
};

// Deep enough that the first frames do not fit a small limit.
__attribute__((noinline)) void writeFromDepth(Captured* captured, int depth) {
  if (depth > 0) {
    writeFromDepth(captured, depth - 1);
    asm volatile("" ::: "memory");  // a real frame per level, not a loop
    return;
  }
  drcrash_async_thread_state_current(
      [](drcrash_async_thread_state* state, void* context) {
        auto* c = static_cast<Captured*>(context);
        drcrash_log_thread thread;
        thread.tid = static_cast<pid_t>(syscall(SYS_gettid));
        thread.crashed = true;
        thread.has_state = true;
        thread.state = *state;
        drcrash_log_signal_info signal;
        signal.signo = SIGTRAP;
        signal.code = TRAP_TRACE;
        c->bytes = crash_test::captureOutput(
            [&](drcrash_async_file* file) {
              c->status = drcrash_log_writer_write(c->writer, c->images, file, &signal, &thread, 1);
            },
            c->limit);
        return DRCRASH_ESUCCESS;
      },
      captured);
  asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
}

TEST(ReportWriterTest, BudgetsFramesSoAReportUnderTheLimitStillDecodes) {
  drcrash_async_memory_init();
  drcrash_async_loaded_images images;
  drcrash_async_loaded_images_init(&images);
  drcrash_async_loaded_images_refresh(&images);
  drcrash_log_writer writer;
  ASSERT_EQ(drcrash_log_writer_init(&writer, "com.dirarovazovo.test", "3", nullptr, 0, true), DRCRASH_ESUCCESS);
  drcrash_log_writer_set_custom_data(&writer, "night", 5);

  Captured full{&writer, &images, kDrcrashReportSizeLimit, {}};
  writeFromDepth(&full, 40);
  ASSERT_EQ(full.status, DRCRASH_ESUCCESS);
  auto report = DCRCrashReport::initWithData(full.bytes);
  ASSERT_TRUE(report.ok()) << report.error().localizedDescription;
  const auto& thread = *(*report)->threads()[0];
  EXPECT_GE(thread.stackFrames().size(), 40u);
  EXPECT_TRUE(thread.crashed());
  EXPECT_EQ((*report)->signalInfo()->code(), "TRAP_TRACE");
  EXPECT_EQ((*report)->customData(), (std::vector<std::uint8_t>{'n', 'i', 'g', 'h', 't'}));

  // A limit below the full size: frames are dropped first, and what is written decodes.
  Captured small{&writer, &images, full.bytes.size() - 200, {}};
  writeFromDepth(&small, 40);
  EXPECT_EQ(small.status, DRCRASH_ESUCCESS);
  auto cut = DCRCrashReport::initWithData(small.bytes);
  ASSERT_TRUE(cut.ok()) << cut.error().localizedDescription;
  EXPECT_LT((*cut)->threads()[0]->stackFrames().size(), thread.stackFrames().size());

  // A limit no budget can meet gives a non-zero status, never a silent cut.
  Captured tiny{&writer, &images, 64, {}};
  writeFromDepth(&tiny, 0);
  EXPECT_EQ(tiny.status, DRCRASH_OUTPUT_ERR);

  drcrash_log_writer_free(&writer);
  drcrash_async_loaded_images_free(&images);
}

}  // namespace
}  // namespace crashreporter
