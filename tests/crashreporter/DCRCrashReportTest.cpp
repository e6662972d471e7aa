#include "crashreporter/Source/DCRCrashReport.h"

#include <gtest/gtest.h>

#include <string>

#include "CrashReportFixtures.h"
#include "crashreporter/Source/DCRCrashReporterError.h"

namespace crashreporter {
namespace {

using crash_test::Bytes;

std::shared_ptr<const DCRCrashReport> read(const Bytes& bytes) {
  auto report = DCRCrashReport::initWithData(bytes);
  EXPECT_TRUE(report.ok()) << report.error().localizedDescription;
  return report.ok() ? *report : nullptr;
}

ReportDate at(std::int64_t seconds) { return ReportDate(std::chrono::seconds(seconds)); }

TEST(DCRCrashReportTest, ReadsTheFullReportFieldByField) {
  const auto report = read(crash_test::reportFromFixture("full"));
  ASSERT_TRUE(report);
  const DCRCrashReport::UUID uuid = {0x8f, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde,
                                     0xf0, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd};
  EXPECT_EQ(report->uuidRef(), uuid);

  const auto& system = *report->systemInfo();
  EXPECT_EQ(system.operatingSystem(), DCRCrashReportSystemInfo::OSUnknown);
  EXPECT_EQ(system.operatingSystemVersion(), "6.1.0");
  EXPECT_EQ(system.operatingSystemBuild(), "6.1.0-28-amd64");
  EXPECT_EQ(system.architecture(), DCRCrashReportSystemInfo::X86_64);
  EXPECT_EQ(system.timestamp(), at(1765386000));
  EXPECT_EQ(system.processorInfo()->type(), 16777223u) << "taken from the machine information";

  ASSERT_TRUE(report->hasMachineInfo());
  const auto& machine = *report->machineInfo();
  EXPECT_EQ(machine.modelName(), "Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(machine.processorInfo()->typeEncoding(), DCRCrashReportProcessorInfo::TypeEncodingMach);
  EXPECT_EQ(machine.processorInfo()->subtype(), 3u);
  EXPECT_EQ(machine.processorCount(), 4u);
  EXPECT_EQ(machine.logicalProcessorCount(), 8u);

  const auto& application = *report->applicationInfo();
  EXPECT_EQ(application.applicationIdentifier(), "com.dirarovazovo.zira");
  EXPECT_EQ(application.applicationVersion(), "412");
  EXPECT_EQ(application.applicationMarketingVersion(), "2.7.1");

  ASSERT_TRUE(report->hasProcessInfo());
  const auto& process = *report->processInfo();
  EXPECT_EQ(process.processName(), "VantelioZira");
  EXPECT_EQ(process.processID(), 4242u);
  EXPECT_EQ(process.processPath(), "/opt/zira/bin/VantelioZira");
  EXPECT_EQ(process.processStartTime(), at(1765385000));
  EXPECT_EQ(process.parentProcessName(), "systemd");
  EXPECT_EQ(process.parentProcessID(), 1u);
  EXPECT_TRUE(process.native());

  EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
  EXPECT_EQ(report->signalInfo()->code(), "SEGV_MAPERR");
  EXPECT_EQ(report->signalInfo()->address(), 16u);
  EXPECT_EQ(report->machExceptionInfo(), nullptr);

  ASSERT_EQ(report->threads().size(), 2u);
  const auto& crashed = *report->threads()[0];
  EXPECT_EQ(crashed.threadNumber(), 0);
  EXPECT_TRUE(crashed.crashed());
  ASSERT_EQ(crashed.registers().size(), 5u);
  EXPECT_EQ(crashed.registers()[0].registerName(), "rip");
  EXPECT_EQ(crashed.registers()[4].registerValue(), ~0ull);
  ASSERT_EQ(crashed.stackFrames().size(), 3u);
  EXPECT_EQ(crashed.stackFrames()[0].instructionPointer(), 4198512u);
  EXPECT_EQ(crashed.stackFrames()[0].symbolInfo()->symbolName(), "crashNow");
  EXPECT_EQ(crashed.stackFrames()[0].symbolInfo()->startAddress(), 4198496u);
  EXPECT_EQ(crashed.stackFrames()[0].symbolInfo()->endAddress(), 0u);
  EXPECT_EQ(crashed.stackFrames()[1].symbolInfo(), nullptr);
  EXPECT_FALSE(report->threads()[1]->crashed());
  EXPECT_TRUE(report->threads()[1]->registers().empty());

  ASSERT_EQ(report->images().size(), 2u);
  const auto& program = *report->images()[0];
  EXPECT_EQ(program.imageBaseAddress(), 4194304u);
  EXPECT_EQ(program.imageSize(), 65536u);
  EXPECT_EQ(program.imageName(), "/opt/zira/bin/VantelioZira");
  EXPECT_TRUE(program.hasImageUUID());
  EXPECT_EQ(program.imageUUID(), "000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(report->images()[1]->imageUUID()->substr(0, 2), "ab");
  EXPECT_EQ(program.codeType()->type(), 16777223u);

  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
  EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "cue list is empty");
  ASSERT_TRUE(report->exceptionInfo()->stackFrames());
  EXPECT_EQ(report->exceptionInfo()->stackFrames()->size(), 2u);

  EXPECT_EQ(report->customData(), (std::vector<std::uint8_t>{'o', 'p', 'e', 'r', 'a', 't', 'o', 'r', '=', 'n', 'i',
                                                              'g', 'h', 't', ' ', 's', 'h', 'i', 'f', 't'}));
}

TEST(DCRCrashReportTest, ReadsAMinimalReportWithoutOptionalRecords) {
  const auto report = read(crash_test::reportFromFixture("minimal"));
  ASSERT_TRUE(report);
  EXPECT_FALSE(report->hasMachineInfo());
  EXPECT_FALSE(report->hasProcessInfo());
  EXPECT_FALSE(report->hasExceptionInfo());
  EXPECT_FALSE(report->uuidRef());
  EXPECT_FALSE(report->customData());
  EXPECT_TRUE(report->threads().empty());
  EXPECT_EQ(report->systemInfo()->timestamp(), std::nullopt) << "timestamp 0 is no date";
  EXPECT_EQ(report->systemInfo()->operatingSystemBuild(), std::nullopt);
  EXPECT_EQ(report->systemInfo()->operatingSystem(), DCRCrashReportSystemInfo::OSUnknown) << "the schema default";
  const auto& processor = *report->systemInfo()->processorInfo();
  EXPECT_EQ(processor.typeEncoding(), DCRCrashReportProcessorInfo::TypeEncodingMach);
  EXPECT_EQ(processor.type(), 0x1000007u);
  EXPECT_EQ(processor.subtype(), 3u);
  EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), std::nullopt);
}

TEST(DCRCrashReportTest, ClearsPointerAuthenticationBitsOnlyForArm64eMachines) {
  const std::string arm64 = crash_test::readTestFile("fixtures/arm64.txt");
  const auto report = read(crash_test::withHeader(crash_test::encodeText(arm64)));
  ASSERT_TRUE(report);
  const std::uint64_t written = 9223372041149745152ull;
  EXPECT_EQ(report->threads()[0]->stackFrames()[0].instructionPointer(), written & ((1ull << 36) - 1));
  EXPECT_NE(report->imageForAddress(report->threads()[0]->stackFrames()[0].instructionPointer()), nullptr);
  ASSERT_TRUE(report->machExceptionInfo());
  EXPECT_EQ(report->machExceptionInfo()->codes(), (std::vector<std::uint64_t>{2, 4096}));
  EXPECT_EQ(report->systemInfo()->processorInfo()->type(), 0x100000Cu);

  std::string subtypeZero = arm64;
  subtypeZero.replace(subtypeZero.find("subtype: 2"), 10, "subtype: 0");
  const auto plain = read(crash_test::withHeader(crash_test::encodeText(subtypeZero)));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->threads()[0]->stackFrames()[0].instructionPointer(), written);
}

TEST(DCRCrashReportTest, ImageForAddressStopsAtTheTopOfTheAddressSpace) {
  const std::string text = crash_test::readTestFile("fixtures/minimal.txt") +
                           "binary_images { base_address: 18446744073709547520 size: 8192 name: \"/top\" }\n"
                           "binary_images { base_address: 4096 size: 4096 name: \"/low\" }\n"
                           "binary_images { base_address: 4096 size: 100 name: \"/shadowed\" }\n";
  const auto report = read(crash_test::withHeader(crash_test::encodeText(text)));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->imageForAddress(~0ull)->imageName(), "/top");
  EXPECT_EQ(report->imageForAddress(5000)->imageName(), "/low") << "the first image in list order";
  EXPECT_EQ(report->imageForAddress(8192), nullptr) << "the end is exclusive";
  EXPECT_EQ(report->imageForAddress(100), nullptr) << "a wrapped end must not hold low addresses";
}

TEST(DCRCrashReportTest, ReplacesIllFormedUtf8) {
  const std::string text = crash_test::readTestFile("fixtures/minimal.txt") + "threads { thread_number: 0 crashed: true "
                           "registers { name: \"r\\377x\" value: 1 } }\n";
  const auto report = read(crash_test::withHeader(crash_test::encodeText(text)));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->threads()[0]->registers()[0].registerName(), "r\xEF\xBF\xBDx");
}

Bytes machCodes(int count) {
  std::string text = crash_test::readTestFile("fixtures/minimal.txt");
  text.replace(text.rfind('}'), 1, "mach_exception { type: 1 ");
  for (int i = 0; i < count; ++i) text += "codes: " + std::to_string(i) + " ";
  text += "} }\n";
  return crash_test::withHeader(crash_test::encodeText(text));
}

TEST(DCRCrashReportTest, RefusesDamagedReportsWithTheirOwnMessages) {
  const Bytes minimal = crash_test::reportFromFixture("minimal");
  Bytes otherMagic = minimal;
  otherMagic[0] = 'D';
  Bytes version2 = minimal;
  version2[7] = 2;
  Bytes garbage = minimal;
  for (std::size_t i = 8; i < garbage.size(); ++i) garbage[i] = 0xff;
  Bytes pastEnd = minimal;
  pastEnd.resize(minimal.size() - 3);
  Bytes lengthPastEnd = crash_test::withHeader({0x52, 0x7f, 0x0a, 0x01, 0x41});  // signal of 127 bytes, 3 present
  const Bytes noSignal = crash_test::withHeader(crash_test::encodeText(
      "system_info { os_version: \"1\" architecture: X86_64 timestamp: 0 } "
      "application_info { identifier: \"a\" version: \"1\" }"));
  const std::string uuid15 = "report_info { user_requested: false uuid: \"0123456789abcde\" }\n";
  const Bytes shortUuid = crash_test::withHeader(
      crash_test::encodeText(uuid15 + crash_test::readTestFile("fixtures/minimal.txt")));
  const Bytes unknownArchitecture = crash_test::withHeader(crash_test::encodeText(
      "system_info { os_version: \"1\" architecture: ARCHITECTURE_UNKNOWN timestamp: 0 } "
      "application_info { identifier: \"a\" version: \"1\" } signal { name: \"S\" code: \"C\" address: 0 }"));

  const struct {
    const char* name;
    Bytes input;
    const char* message;
  } cases[] = {
      {"empty", {}, "Could not decode truncated crash log"},
      {"header only", Bytes(minimal.begin(), minimal.begin() + 8), "Could not decode truncated crash log"},
      {"other magic", otherMagic, "Could not decode invalid crash log header"},
      {"version 2", version2, "Could not decode unsupported crash report version: 2"},
      {"garbage after the header", garbage, "An unknown error occured decoding the crash report"},
      {"cut short", pastEnd, "An unknown error occured decoding the crash report"},
      {"length past the end", lengthPastEnd, "An unknown error occured decoding the crash report"},
      {"missing required field", noSignal, "An unknown error occured decoding the crash report"},
      {"256 Mach codes", machCodes(256), "Crash report includes too many Mach Exception codes"},
      {"15-byte uuid", shortUuid, "Report UUID value is not a standard 16 bytes"},
      {"unknown architecture", unknownArchitecture, "Crash report has an unknown architecture"},
      {"over 16 MiB", Bytes(kMaxCrashReportBytes + 1, 'd'), "Crash report is larger than 16 MiB"},
  };
  for (const auto& c : cases) {
    auto report = DCRCrashReport::initWithData(c.input);
    ASSERT_FALSE(report.ok()) << c.name;
    EXPECT_EQ(report.error().domain, kDCRCrashReporterErrorDomain) << c.name;
    EXPECT_EQ(report.error().code, 2) << c.name;
    EXPECT_EQ(report.error().localizedDescription, c.message) << c.name;
  }
  EXPECT_TRUE(DCRCrashReport::initWithData(machCodes(255)).ok());
}

}  // namespace
}  // namespace crashreporter
