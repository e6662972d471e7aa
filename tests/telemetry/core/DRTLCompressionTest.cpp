#include <gtest/gtest.h>

#include <fstream>

#include "TelemetryTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "telemetry/core/DRTLCompression.h"

namespace telemetry::core {
namespace {

using testing_support::quoted;
using testing_support::runCommand;

std::string inflatedByGzip(const std::string& compressed, const std::filesystem::path& folder) {
  const auto file = folder / "body.gz";
  std::ofstream(file, std::ios::binary) << compressed;
  return runCommand("gzip -dc " + quoted(file.string()));
}

TEST(DRTLCompressionTest, GzipInflatesWhatItCompresses) {
  ::testing_support::TemporaryDirectory folder;
  std::string body = "{\"logs\":[";
  while (body.size() < 2048) body += "{\"type\":\"event\",\"name\":\"x\"},";
  body += "{}]}";
  for (const std::string& input : {body, std::string("a")}) {
    std::optional<std::string> compressed = DRTLCompression::compressData(input);
    ASSERT_TRUE(compressed.has_value());
    ASSERT_GE(compressed->size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>((*compressed)[0]), 0x1F);
    EXPECT_EQ(static_cast<unsigned char>((*compressed)[1]), 0x8B);
    EXPECT_EQ(inflatedByGzip(*compressed, folder.path()), input);
  }
}

TEST(DRTLCompressionTest, EmptyOrMissingInputGivesNothingWithoutALine) {
  testing_support::LogCapture capture;
  EXPECT_EQ(DRTLCompression::compressData(std::string()), std::nullopt);
  EXPECT_EQ(DRTLCompression::compressData(std::nullopt), std::nullopt);
  EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
}  // namespace telemetry::core
