#include "crashreporter/Source/DCRCrashReportTextFormatter.h"

#include <gtest/gtest.h>

#include <string>

#include "CrashReportFixtures.h"
#include "tests/support/CapturedDiagnostics.h"

namespace crashreporter {
namespace {

std::shared_ptr<const DCRCrashReport> readText(const std::string& protoText) {
  auto report = DCRCrashReport::initWithData(crash_test::withHeader(crash_test::encodeText(protoText)));
  EXPECT_TRUE(report.ok()) << report.error().localizedDescription;
  return report.ok() ? *report : nullptr;
}

std::string formatted(const std::string& protoText) {
  const auto report = readText(protoText);
  return report ? DCRCrashReportTextFormatter::stringValueForCrashReport(*report, 0) : std::string();
}

std::string minimalPlus(const std::string& extra) { return crash_test::readTestFile("fixtures/minimal.txt") + extra; }

TEST(DCRCrashReportTextFormatterTest, FormatsTheFullReportAsTheGoldenText) {
  testing_support::CapturedDiagnostics diagnostics;
  const auto report = readText(crash_test::readTestFile("fixtures/full.txt"));
  ASSERT_TRUE(report);
  EXPECT_EQ(DCRCrashReportTextFormatter::stringValueForCrashReport(*report, 0),
            crash_test::readTestFile("golden/full.txt"));
  EXPECT_GE(diagnostics.count("prefix rules are unknown for this OS!"), 1u);
  EXPECT_EQ(diagnostics.count("[DCRCrashReporter] Cannot find image for 0x3039"), 1u);

  const DCRCrashReportTextFormatter ascii(DCRCrashReportTextFormatter::TextFormatStandard,
                                          DCRCrashReportTextFormatter::StringEncoding::ASCII);
  auto bytes = ascii.formatReport(*report);
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), crash_test::readTestFile("golden/full.txt"));
}

TEST(DCRCrashReportTextFormatterTest, PrintsOneImagePerBaseAddressAndSizeZeroAsItsBase) {
  const std::string text = formatted(minimalPlus(
      "binary_images { base_address: 8192 size: 0 name: \"/lib/empty.so\" }\n"
      "binary_images { base_address: 4096 size: 4096 name: \"/lib/first.so\" }\n"
      "binary_images { base_address: 4096 size: 64 name: \"/lib/second.so\" }\n"));
  const std::string images = text.substr(text.find("Binary Images:\n"));
  EXPECT_EQ(images,
            "Binary Images:\n"
            "            0x1000 -             0x1fff  first.so ???  <???> /lib/first.so\n"
            "            0x2000 -             0x2000  empty.so ???  <???> /lib/empty.so\n");
}

TEST(DCRCrashReportTextFormatterTest, PrintsRegistersFourToALine) {
  const std::string text = formatted(minimalPlus(
      "threads { thread_number: 0 crashed: true registers { name: \"rax\" value: 1 } registers { name: \"rbx\" value: 2 }"
      " registers { name: \"rcx\" value: 3 } registers { name: \"rdx\" value: 4 } registers { name: \"rip\" value: 255 } }\n"));
  EXPECT_NE(text.find("Thread 0 crashed with X86-64 Thread State:\n"
                      "   rax: 0x0000000000000001    rbx: 0x0000000000000002    rcx: 0x0000000000000003 "
                      "   rdx: 0x0000000000000004 \n"
                      "   rip: 0x00000000000000ff \n\n"),
            std::string::npos)
      << text;
}

TEST(DCRCrashReportTextFormatterTest, NamesR12IpOn32BitArm) {
  const std::string text = formatted(
      "system_info { os_version: \"1\" architecture: ARMV7 timestamp: 0 }"
      "machine_info { processor { encoding: TYPE_ENCODING_MACH type: 12 subtype: 9 } processor_count: 1 "
      "logical_processor_count: 1 }"
      "application_info { identifier: \"a\" version: \"1\" } signal { name: \"S\" code: \"C\" address: 0 }"
      "threads { thread_number: 0 crashed: true registers { name: \"r12\" value: 7 } frames { pc: 16 } }");
  EXPECT_NE(text.find("Code Type:       ARM\n"), std::string::npos);
  EXPECT_NE(text.find("    ip: 0x00000007 \n"), std::string::npos) << text;
  EXPECT_NE(text.find("0   ???                                 0x00000010 0x0 + 0\n"), std::string::npos) << text;
}

TEST(DCRCrashReportTextFormatterTest, PrintsMissingProcessInformationAsQuestionMarks) {
  const std::string text = formatted(crash_test::readTestFile("fixtures/minimal.txt"));
  EXPECT_NE(text.find("Process:         ??? [???]\nPath:            ???\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Parent Process:  ??? [???]\n"), std::string::npos);
  EXPECT_NE(text.find("Incident Identifier: ???\nHardware Model:      ???\n"), std::string::npos);
  EXPECT_NE(text.find("Date/Time:       ???\nOS Version:      Unknown (3) 6.1.0 (???)\n"), std::string::npos);
  EXPECT_EQ(text.find("Crashed Thread:"), std::string::npos) << "no crashed thread, no line";
}

TEST(DCRCrashReportTextFormatterTest, KeepsASymbolNamedUnderscoreAndStripsLongerOnes) {
  const std::string frames =
      "threads { thread_number: 0 crashed: false frames { pc: 4200 symbol { name: \"_\" start_address: 4100 } }"
      " frames { pc: 4300 symbol { name: \"_main\" start_address: 4096 } } }\n"
      "binary_images { base_address: 4096 size: 4096 name: \"/bin/zira\" }\n";
  std::string mac = minimalPlus(frames);
  mac.replace(mac.find("os_version"), 0, "operating_system: MAC_OS_X ");
  const std::string text = formatted(mac);
  EXPECT_NE(text.find("0   zira                                0x0000000000001068 _ + 100\n"), std::string::npos) << text;
  EXPECT_NE(text.find("1   zira                                0x00000000000010cc main + 204\n"), std::string::npos);

  const std::string linux = formatted(minimalPlus(frames));
  EXPECT_NE(linux.find("_main + 204\n"), std::string::npos) << "prefix rules unknown: unchanged";
}

}  // namespace
}  // namespace crashreporter
