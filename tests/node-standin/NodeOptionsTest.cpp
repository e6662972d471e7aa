#include <gtest/gtest.h>

#include "node-standin/NodeOptions.h"

namespace standin {
namespace {

TEST(NodeOptionsTest, ReadsTheCommandLine) {
  const platform::Result<NodeOptions> options =
      parseNodeOptions({"--listen", "[::1]:0", "--media", "/srv/a", "--media", "/srv/b", "--name", "Studio A",
                        "--password", "pw", "--uid", "ID-1", "--bonjour"});
  ASSERT_TRUE(options.ok()) << options.error().describe();
  EXPECT_EQ(options->listenAddress, "::1");
  EXPECT_EQ(options->listenPort, 0);
  EXPECT_EQ(options->mediaFolders, (std::vector<std::filesystem::path>{"/srv/a", "/srv/b"}));
  EXPECT_EQ(options->name, "Studio A");
  EXPECT_EQ(options->password, std::optional<std::string>("pw"));
  EXPECT_EQ(options->uniqueID, std::optional<std::string>("ID-1"));
  EXPECT_TRUE(options->bonjour);

  const platform::Result<NodeOptions> plain = parseNodeOptions({"--media", "m", "--listen", "127.0.0.1:7000"});
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain->listenAddress, "127.0.0.1");
  EXPECT_EQ(plain->listenPort, 7000);
  EXPECT_EQ(plain->name, kDefaultNodeName);
  EXPECT_FALSE(plain->password.has_value());
  EXPECT_FALSE(plain->bonjour);
  EXPECT_FALSE(plain->asksForEngineOutput());
  EXPECT_FALSE(plain->noEngine);

  const platform::Result<NodeOptions> output =
      parseNodeOptions({"--listen", "127.0.0.1:0", "--media", "m", "--display-mode", "PAL", "--buffer-format", "BGRA",
                        "--output", "/tmp/out.mkv", "--preview"});
  ASSERT_TRUE(output.ok()) << output.error().describe();
  EXPECT_EQ(output->displayModeName, std::optional<std::string>("PAL"));
  EXPECT_EQ(output->bufferFormat, std::optional<std::string>("BGRA"));
  EXPECT_EQ(output->outputFile, std::filesystem::path("/tmp/out.mkv"));
  EXPECT_TRUE(output->preview);
  EXPECT_TRUE(output->asksForEngineOutput());
}

TEST(NodeOptionsTest, RefusesIncompleteOrMalformedCommandLines) {
  const std::vector<std::vector<std::string>> refused = {
      {"--media", "m"},
      {"--listen", "127.0.0.1:0"},
      {"--listen", "127.0.0.1", "--media", "m"},
      {"--listen", "127.0.0.1:70000", "--media", "m"},
      {"--listen", "::1:0", "--media", "m"},
      {"--listen", "[::1:0", "--media", "m"},
      {"--listen", "127.0.0.1:0", "--media"},
      {"--listen", "127.0.0.1:0", "--media", "m", "--uid", "two words"},
      {"--listen", "127.0.0.1:0", "--media", "m", "--name", "line\nend"},
      {"--listen", "127.0.0.1:0", "--media", "m", "--verbose"},
      {"--listen", "127.0.0.1:0", "--media", "m", "--buffer-format", "v210"},
      {"--listen", "127.0.0.1:0", "--media", "m", "--output", ""},
      {"--listen", "127.0.0.1:0", "--media", "m", "--no-engine", "--output", "out.mkv"},
      {"--listen", "127.0.0.1:0", "--media", "m", "--no-engine", "--preview"},
  };
  for (const std::vector<std::string>& arguments : refused) {
    const platform::Result<NodeOptions> options = parseNodeOptions(arguments);
    EXPECT_FALSE(options.ok()) << ::testing::PrintToString(arguments);
  }
}

}  // namespace
}  // namespace standin
