// The error log formatter on reports made from proto text: the full fixture
// against a golden JSON text, then its rules case by case.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "CrashReportFixtures.h"
#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "telemetry/services/crashes/logs/DRTLErrorLogFormatter.h"

namespace telemetry::crashes {
namespace {

using Formatter = DRTLErrorLogFormatter;
using core::testing_support::LogCapture;

std::shared_ptr<const crashreporter::DCRCrashReport> reportFromText(const std::string& text) {
  auto report = crashreporter::DCRCrashReport::initWithData(crash_test::withHeader(crash_test::encodeText(text)));
  EXPECT_TRUE(report.ok()) << text;
  return report.ok() ? *report : nullptr;
}

const std::string kApplication = R"(application_info { identifier: "a" version: "1" })";
const std::string kSignal = R"(signal { name: "SIGSEGV" code: "SEGV_MAPERR" address: 0 })";

std::string systemInfo(const std::string& timestamp) {
  return "system_info { os_version: \"6.1.0\" architecture: X86_64 timestamp: " + timestamp + " }\n";
}

TEST(DRTLErrorLogFormatterTest, FullReportGivesTheGoldenLog) {
  const auto report = reportFromText(crash_test::readTestFile("fixtures/full.txt"));
  ASSERT_TRUE(report);
  const auto log = Formatter::errorLogFromCrashReport(*report);
  EXPECT_TRUE(log->device) << "the device current at the crash";
  core::DRTLJSON json = log->serializeToDictionary();
  json.erase("device");  // this machine's
  std::ifstream in(std::string(CRASHES_TEST_DATA_DIR) + "/golden/full.json");
  const std::string golden((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(json.dump(2) + "\n", golden);
}

TEST(DRTLErrorLogFormatterTest, ErrorReportCarriesTheInstallIdAndTheLogsFields) {
  const auto report = reportFromText(crash_test::readTestFile("fixtures/full.txt"));
  ASSERT_TRUE(report);
  const auto summary = Formatter::errorReportFromCrashReport(report.get());
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->incidentIdentifier(), "8F123456-789A-BCDE-F001-23456789ABCD");
  EXPECT_EQ(summary->reporterKey(), core::DRTLDirAraded::installId());
  EXPECT_EQ(summary->signal(), "SIGSEGV");
  EXPECT_EQ(summary->exceptionName(), "std::runtime_error");
  EXPECT_EQ(summary->exceptionReason(), "cue list is empty");
  EXPECT_EQ(summary->appStartTime(), platform::Date(std::chrono::seconds(1765385000)));
  EXPECT_EQ(summary->appErrorTime(), platform::Date(std::chrono::milliseconds(1765386000999)));
  EXPECT_TRUE(summary->device());
  EXPECT_EQ(summary->appProcessIdentifier(), 4242u);
  EXPECT_FALSE(Formatter::errorReportFromCrashReport(nullptr));
}

TEST(DRTLErrorLogFormatterTest, AReportMissingItsPartsGivesTheDefaults) {
  const auto report = reportFromText(crash_test::readTestFile("fixtures/minimal.txt"));
  ASSERT_TRUE(report);
  const auto log = Formatter::errorLogFromCrashReport(*report);
  EXPECT_EQ(log->errorId->size(), 36u) << "a new id without the report's";
  EXPECT_EQ(log->processId, 0);
  EXPECT_EQ(log->processName, "???");
  EXPECT_EQ(log->parentProcessName, "???");
  EXPECT_FALSE(log->parentProcessId);
  EXPECT_EQ(log->applicationPath, "???");
  EXPECT_EQ(log->errorThreadId, 0);
  EXPECT_EQ(log->timestamp, platform::Date(std::chrono::milliseconds(999)));
  EXPECT_FALSE(log->appLaunchTimestamp);
  EXPECT_EQ(log->primaryArchitectureId, 0u);
  EXPECT_EQ(log->osExceptionAddress, "0x0");
  EXPECT_TRUE(log->threads->empty());
  EXPECT_TRUE(log->registers->empty());
  EXPECT_TRUE(log->binaries->empty());
  EXPECT_FALSE(log->selectorRegisterValue);
  EXPECT_FALSE(log->exceptionType);
}

TEST(DRTLErrorLogFormatterTest, CrashTimesAndAddressWidths) {
  // Reports keep whole seconds, so every crash time gets the 0.999 s.
  EXPECT_EQ(Formatter::errorLogFromCrashReport(*reportFromText(systemInfo("100") + kApplication + kSignal))->timestamp,
            platform::Date(std::chrono::milliseconds(100999)));

  const struct {
    std::uint64_t value;
    bool is64;
    const char* text;
  } addresses[] = {{4096, true, "0x0000000000001000"}, {4096, false, "0x00001000"},
                   {0x123456789, false, "0x123456789"}, {0xffffffffffffffff, true, "0xffffffffffffffff"}};
  for (const auto& a : addresses) EXPECT_EQ(Formatter::formatAddress(a.value, a.is64), a.text);
  EXPECT_TRUE(Formatter::isCodeType64bit(16777223));
  EXPECT_TRUE(Formatter::isCodeType64bit(16777228));
  EXPECT_FALSE(Formatter::isCodeType64bit(7));

  // The first Mach-encoded image decides over the machine record.
  const auto arm = reportFromText(
      systemInfo("1") + kApplication + kSignal +
      R"(machine_info { processor { encoding: TYPE_ENCODING_MACH type: 16777223 subtype: 3 } processor_count: 1 logical_processor_count: 1 }
         binary_images { base_address: 4096 size: 16 name: "/x" }
         binary_images { base_address: 8192 size: 16 name: "/y" code_type { encoding: TYPE_ENCODING_MACH type: 16777228 subtype: 0 } }
         threads { thread_number: 0 crashed: true frames { pc: 8200 } })");
  const auto armLog = Formatter::errorLogFromCrashReport(*arm);
  EXPECT_EQ(armLog->primaryArchitectureId, 16777228u);
  EXPECT_EQ((*(*armLog->threads)[0]->frames)[0]->address, "0x0000000000002008");
  const auto narrow = reportFromText(systemInfo("1") + kApplication + kSignal +
                                     R"(threads { thread_number: 0 crashed: true frames { pc: 8200 } })");
  EXPECT_EQ((*(*Formatter::errorLogFromCrashReport(*narrow)->threads)[0]->frames)[0]->address, "0x00002008");
}

TEST(DRTLErrorLogFormatterTest, ImageKindsOfThisSystem) {
  const std::string process = "/opt/Zira/bin/Tool";
  const struct {
    const char* image;
    int kind;
  } cases[] = {
      {"/opt/Zira/bin/Tool", 0},
      {"/OPT/zira/bin/tool", 0},
      {"/opt/Zira/bin/ToolHelper", 0},
      {"/opt/Zira/bin/libKit.so", 1},
      {"/opt/Zira/lib/Tool/outputs/virtual.so", 1},
      {"/opt/Zira/bin/../lib/Tool/inputs/fake.so", 1},
      {"/opt/Zira/bin/frameworks/libswiftCore.dylib", 1},
      {"/usr/lib/x86_64-linux-gnu/libc.so.6", 2},
      {"/opt/Zira/lib/libOther.so", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(Formatter::imageTypeForImagePath(c.image, process), c.kind) << c.image;
  EXPECT_EQ(Formatter::imageTypeForImagePath(std::nullopt, process), 2);
  EXPECT_EQ(Formatter::imageTypeForImagePath(process, std::nullopt), 2);
}

TEST(DRTLErrorLogFormatterTest, UserNamesLeaveEveryPath) {
  const char* savedHome = std::getenv("HOME");
  const std::string saved = savedHome ? savedHome : "";
  setenv("HOME", "/srv/people/anna", 1);
  const struct {
    const char* path;
    const char* anonymized;
  } cases[] = {
      {"/home/anna/x/y", "/home/USER/x/y"},
      {"/Users/anna/Apps/Tool.app/Contents/MacOS/Tool", "/Users/USER/Apps/Tool.app/Contents/MacOS/Tool"},
      {"/usr/lib/libc.so.6", "/usr/lib/libc.so.6"},
      {"/private/Users/anna/x", ""},
      {"", ""},
      {"/srv/people/anna/bin/tool", "/srv/people/USER/bin/tool"},
      {"/srv/people/annabel/bin/tool", "/srv/people/annabel/bin/tool"},
      {"/mnt/home/bob/lib.so", "/mnt/home/USER/lib.so"},
  };
  for (const auto& c : cases) EXPECT_EQ(Formatter::anonymizedPathFromPath(c.path), c.anonymized) << c.path;
  setenv("HOME", saved.c_str(), 1);
}

TEST(DRTLErrorLogFormatterTest, FrameTextsAndTheWarningsTheyLog) {
  core::DRTLLogger::setCurrentLogLevel(core::DRTLLogLevelVerbose);
  const auto report = reportFromText(
      systemInfo("1") + kApplication + kSignal +
      R"(process_info { process_id: 1 process_path: "/opt/z/bin/z" parent_process_id: 0 native: true }
         binary_images { base_address: 4096 size: 4096 name: "/opt/z/bin/z" }
         binary_images { base_address: 65536 size: 4096 name: "/usr/lib/libc.so.6" }
         threads { thread_number: 0 crashed: true
           frames { pc: 4200 symbol { name: "_main" start_address: 4100 } }
           frames { pc: 65552 symbol { name: "_objc_msgSend" start_address: 65536 } }
           frames { pc: 65552 symbol { name: "_" start_address: 65536 } }
           frames { pc: 65560 }
           frames { pc: 0 }
           frames { pc: 99 } })");
  ASSERT_TRUE(report);
  const auto& frames = report->threads()[0]->stackFrames();
  LogCapture capture;
  const char* expected[] = {"0x1000 + 104", "_objc_msgSend + 16", "_ + 16", "0x10000 + 24", "0x0 + 0", "0x0 + 0"};
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(Formatter::formatStackFrame(frames[i], *report), expected[i]);
  EXPECT_EQ(capture.count(core::DRTLLogLevelWarning, "prefix rules are unknown for this OS!"), 1)
      << "once for _objc_msgSend, never for \"_\" alone";
  EXPECT_EQ(capture.count(core::DRTLLogLevelWarning, "Cannot find image for 0x"), 1) << "only for the non-zero pc";

  const auto mac = reportFromText(
      "system_info { operating_system: MAC_OS_X os_version: \"10\" architecture: X86_64 timestamp: 1 }\n" + kApplication +
      kSignal + R"(binary_images { base_address: 65536 size: 4096 name: "/usr/lib/libobjc.A.dylib" }
         threads { thread_number: 0 crashed: true frames { pc: 65552 symbol { name: "_objc_msgSend" start_address: 65536 } } })");
  EXPECT_EQ(Formatter::formatStackFrame(mac->threads()[0]->stackFrames()[0], *mac), "objc_msgSend + 16");
}

TEST(DRTLErrorLogFormatterTest, BinariesInUseOrOfTheApplication) {
  const auto report = reportFromText(
      systemInfo("1") + kApplication + kSignal +
      R"(process_info { process_id: 1 process_path: "/opt/z/bin/z" parent_process_id: 0 native: true }
         binary_images { base_address: 1048576 size: 4096 name: "/usr/lib/unused.so" }
         binary_images { base_address: 8192 size: 0 name: "/usr/lib/empty.so" }
         binary_images { base_address: 4096 size: 4096 name: "/opt/z/bin/libkit.so" }
         binary_images { base_address: 16384 size: 4096 name: "/usr/lib/end.so" }
         binary_images { base_address: 18446744073709547520 size: 8192 name: "/usr/lib/wraps.so" }
         threads { thread_number: 0 crashed: true frames { pc: 8192 } registers { name: "rsi" value: 20479 } }
         threads { thread_number: 1 crashed: false frames { pc: 100 } })");
  ASSERT_TRUE(report);
  const auto binaries = Formatter::extractBinaryImagesFromReport(*report, true);
  std::vector<std::string> names;
  for (const auto& b : binaries) names.push_back(*b->name);
  EXPECT_EQ(names, (std::vector<std::string>{"libkit.so", "empty.so", "end.so"}))
      << "sorted by base; an unused system library and one that would wrap round are left out";
  EXPECT_EQ(binaries[1]->startAddress, binaries[1]->endAddress) << "size 0 counts as 1";
  EXPECT_EQ(binaries[2]->endAddress, "0x0000000000004fff") << "an address at the end is in use";
  EXPECT_EQ(binaries[0]->binaryId, "???");
  EXPECT_EQ(binaries[0]->primaryArchitectureId, 0u);
  EXPECT_EQ(Formatter::addressesFromReport(*report), (std::vector<std::uint64_t>{8192, 20479, 100}));
  EXPECT_TRUE(Formatter::isBinaryWithStart(10, 20, {20}));
  EXPECT_FALSE(Formatter::isBinaryWithStart(10, 20, {9, 21}));
}

TEST(DRTLErrorLogFormatterTest, TheExceptionGoesOnTheCrashedThreadOnly) {
  const std::string threads = R"(threads { thread_number: 0 crashed: false frames { pc: 1 } }
         threads { thread_number: 1 crashed: true frames { pc: 2 } registers { name: "rsi" value: 5 } })";
  const auto report = reportFromText(systemInfo("1") + kApplication + kSignal + threads +
                                     R"(exception { name: "" reason: "r" frames { pc: 3 } })");
  ASSERT_TRUE(report);
  const auto log = Formatter::errorLogFromCrashReport(*report);
  ASSERT_EQ(log->threads->size(), 2u);
  EXPECT_FALSE((*log->threads)[0]->exception);
  const auto& exception = (*log->threads)[1]->exception;
  ASSERT_TRUE(exception);
  EXPECT_EQ(exception->type, "SIGSEGV") << "an exception without a name takes the signal's";
  EXPECT_EQ(exception->message, "r");
  ASSERT_EQ(exception->frames->size(), 1u);
  EXPECT_FALSE((*exception->frames)[0]->code) << "exception frames carry addresses only";
  EXPECT_EQ(log->errorThreadId, 1);
  EXPECT_EQ(log->registers, (std::map<std::string, std::string>{{"rsi", "0x00000005"}}));
  EXPECT_FALSE(log->selectorRegisterValue) << "no class runtime to read selectors from";

  const auto uncrashed = reportFromText(systemInfo("1") + kApplication + kSignal +
                                        R"(threads { thread_number: 0 crashed: false frames { pc: 1 } }
                                           exception { name: "n" reason: "r" frames { pc: 3 } })");
  const auto uncrashedLog = Formatter::errorLogFromCrashReport(*uncrashed);
  EXPECT_FALSE((*uncrashedLog->threads)[0]->exception) << "without a crashed thread no thread carries it";
}

}  // namespace
}  // namespace telemetry::crashes
