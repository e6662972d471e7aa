#include "platform/Bundle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "platform/Diagnostics.h"
#include "tests/support/TemporaryDirectory.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>ch.example.player</string>
	<key>CFBundleName</key>
	<string>Player</string>
	<key>CFBundleShortVersionString</key>
	<string>2.1</string>
	<key>CFBundleVersion</key>
	<string>2104</string>
	<key>Channels</key>
	<integer>4</integer>
</dict>
</plist>
)";

void writeText(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class BundleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    setDiagnosticHandler(nullptr);
    Bundle::setMainForTesting(nullptr);
  }

  testing_support::TemporaryDirectory root_;
};

TEST_F(BundleTest, ReadsInfoDictionaryAndFindsResources) {
  const fs::path folder = root_ / "Player.resources";
  writeText(folder / "Info.plist", kInfoPlist);
  writeText(folder / "logo.png", "png");
  writeText(folder / "fonts" / "Title.ttf", "ttf");
  writeText(root_ / "outside.txt", "not part of the bundle");

  const Bundle bundle(folder);
  EXPECT_EQ(bundle.resourcesPath(), folder);
  EXPECT_EQ(bundle.bundleIdentifier(), "ch.example.player");
  EXPECT_EQ(bundle.name(), "Player");
  EXPECT_EQ(bundle.version(), "2104");
  EXPECT_EQ(bundle.shortVersionString(), "2.1");
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("Channels"), Value(4));
  EXPECT_TRUE(bundle.objectForInfoDictionaryKey("Missing").isNone());
  EXPECT_EQ(bundle.infoDictionary().size(), 5u);

  const std::string absoluteName = (root_ / "outside").string();
  struct Case {
    const char* name;
    const char* extension;
    std::optional<fs::path> expected;
  } cases[] = {
      {"logo", "png", folder / "logo.png"},
      {"logo", ".png", folder / "logo.png"},
      {"logo.png", "", folder / "logo.png"},
      {"fonts/Title", "ttf", folder / "fonts" / "Title.ttf"},
      {"logo", "jpg", std::nullopt},
      {"", "png", std::nullopt},
      {"../outside", "txt", std::nullopt},
      {"fonts/../../outside", "txt", std::nullopt},
      {"outside", "./../../outside.txt", std::nullopt},
      {absoluteName.c_str(), "txt", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " / " + c.extension);
    EXPECT_EQ(bundle.pathForResource(c.name, c.extension), c.expected);
  }
}

TEST_F(BundleTest, LooksUpTextsInTheDefaultStringTableWithTheKeyAsFallback) {
  const fs::path folder = root_ / "Player.resources";
  writeText(folder / "Localizable.strings", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>Disk full</key><string>Disque plein</string><key>Count</key><integer>3</integer></dict></plist>
)");
  const Bundle bundle(folder);
  EXPECT_EQ(bundle.localizedStringForKey("Disk full"), "Disque plein");
  EXPECT_EQ(bundle.localizedStringForKey("Not translated"), "Not translated");
  EXPECT_EQ(bundle.localizedStringForKey("Count"), "Count") << "a value that is not text";
  EXPECT_EQ(Bundle(root_ / "none").localizedStringForKey("Disk full"), "Disk full") << "no table";
}

TEST_F(BundleTest, MissingFolderOrKeysGiveEmptyValues) {
  writeText(root_ / "partial" / "Info.plist",
            "<plist version=\"1.0\"><dict><key>CFBundleName</key><string>Partial</string>"
            "<key>CFBundleVersion</key><integer>7</integer></dict></plist>");
  const Bundle partial(root_ / "partial");
  EXPECT_EQ(partial.name(), "Partial");
  EXPECT_EQ(partial.version(), "") << "a version that is not a string reads as missing";
  EXPECT_EQ(partial.bundleIdentifier(), "");

  const Bundle missing(root_ / "no such folder");
  EXPECT_EQ(missing.resourcesPath(), root_ / "no such folder");
  EXPECT_TRUE(missing.infoDictionary().empty());
  EXPECT_EQ(missing.name(), "");
  EXPECT_EQ(missing.pathForResource("Info", "plist"), std::nullopt);
}

TEST_F(BundleTest, MalformedInfoIsReportedAndReadsAsEmpty) {
  std::vector<std::string> warnings;
  setDiagnosticHandler([&](DiagnosticLevel, const std::string& message) { warnings.push_back(message); });
  for (const char* contents : {"<plist><dict><key>CFBundleName</key>", "<plist version=\"1.0\"><array/></plist>"}) {
    SCOPED_TRACE(contents);
    warnings.clear();
    writeText(root_ / "broken" / "Info.plist", contents);
    const Bundle bundle(root_ / "broken");
    EXPECT_TRUE(bundle.infoDictionary().empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find((root_ / "broken").string()), std::string::npos) << warnings[0];
  }
}

TEST_F(BundleTest, FindsTheResourcesOfAnExecutable) {
  const fs::path buildTree = root_ / "build" / "bin" / "player";
  const fs::path installed = root_ / "usr" / "bin" / "player";
  const fs::path bare = root_ / "bare" / "player";
  writeText(buildTree, "");
  writeText(buildTree.parent_path() / "player.resources" / "Info.plist", kInfoPlist);
  writeText(installed, "");
  writeText(root_ / "usr" / "share" / "player" / "Info.plist", kInfoPlist);
  writeText(root_ / "build" / "share" / "player" / "Info.plist", "<plist><dict/></plist>");
  writeText(bare, "");
  writeText(bare.parent_path() / "Info.plist", kInfoPlist);  // not a bundle: belongs to nothing

  const Bundle fromBuildTree = Bundle::forExecutable(buildTree);
  EXPECT_EQ(fromBuildTree.resourcesPath(), root_ / "build" / "bin" / "player.resources") << "build tree comes first";
  EXPECT_EQ(fromBuildTree.version(), "2104");

  const Bundle fromInstall = Bundle::forExecutable(installed);
  EXPECT_EQ(fromInstall.resourcesPath(), root_ / "usr" / "share" / "player");
  EXPECT_EQ(fromInstall.bundleIdentifier(), "ch.example.player");

  const Bundle fromBare = Bundle::forExecutable(bare);
  EXPECT_EQ(fromBare.resourcesPath(), root_ / "bare");
  EXPECT_TRUE(fromBare.infoDictionary().empty());
}

TEST_F(BundleTest, MainBundleIsTheRunningProgramsUnlessReplaced) {
  const fs::path executable = fs::read_symlink("/proc/self/exe");
  const std::shared_ptr<const Bundle> real = Bundle::main();
  ASSERT_TRUE(real);
  EXPECT_EQ(real->resourcesPath(), Bundle::forExecutable(executable).resourcesPath());
  EXPECT_EQ(Bundle::main(), real) << "created once and shared";

  writeText(root_ / "Info.plist", kInfoPlist);
  auto replacement = std::make_shared<const Bundle>(root_.path());
  Bundle::setMainForTesting(replacement);
  EXPECT_EQ(Bundle::main(), replacement);
  EXPECT_EQ(Bundle::main()->name(), "Player");
  Bundle::setMainForTesting(nullptr);
  EXPECT_EQ(Bundle::main(), real);
}

}  // namespace
}  // namespace platform
