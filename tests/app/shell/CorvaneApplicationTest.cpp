// What the application object tells the support window.
#include "app/shell/CorvaneApplication.h"

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/TemporaryDirectory.h"

namespace {

template <typename Base>
class FakeApplication : public Base {
 public:
  std::shared_ptr<const platform::Bundle> applicationMainBundle() const override { return bundle; }
  void terminate() override {}
  bool hasModalWindow() const override { return false; }
  std::shared_ptr<const platform::Bundle> bundle = platform::Bundle::main();
};

TEST(CorvaneApplicationTest, FourCharacterCodesOfBothLayers) {
  EXPECT_EQ(app::CorvaneApplication::stringFromFourCharCode(0x5A617271), "Zarq");
  EXPECT_EQ(app::CorvaneApplication::stringFromFourCharCode(0x3F3F3F3F), "????");
  EXPECT_EQ(FakeApplication<app::CorvaneApplication>().applicationInformationForSupport().at("fourChar"), "????");
  const FakeApplication<app::VantelioZiraApplicationAnswers> product;
  const platform::Dictionary information = product.applicationInformationForSupport();
  EXPECT_EQ(information.at("fourChar"), "Zarq");
  EXPECT_TRUE(information.contains("bundleName"));
  EXPECT_TRUE(information.contains("bundleVersion"));
  EXPECT_TRUE(product.showInvolvedDocumentsView());
  EXPECT_FALSE(FakeApplication<app::CorvaneApplication>().showInvolvedDocumentsView());
  EXPECT_EQ(app::VantelioZiraApplicationAnswers::applicationAdditionalLicenseInfo(),
            "This software uses librairies from the FFmpeg project\runder the LGPLv2.1");
}

TEST(CorvaneApplicationTest, SystemVersionComesFromOsRelease) {
  testing_support::TemporaryDirectory folder;
  const auto versionOf = [&](const std::string& content) {
    std::ofstream(folder / "os-release") << content;
    return app::CorvaneApplication::macOSVersionString(folder / "os-release");
  };
  EXPECT_EQ(versionOf("NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"), "12");
  EXPECT_EQ(versionOf("VERSION_ID=22.04\n"), "22.04");
  EXPECT_EQ(versionOf("NAME=Arch\n"), std::nullopt);
  EXPECT_EQ(app::CorvaneApplication::macOSVersionString(folder / "missing"), std::nullopt);
}

TEST(CorvaneApplicationTest, ProductSupportFilesAreTheLocalDataSourceFolder) {
  testing_support::TemporaryDirectory documents;
  const char* previous = std::getenv("XDG_DOCUMENTS_DIR");
  const std::string saved = previous ? previous : "";
  ::setenv("XDG_DOCUMENTS_DIR", documents.path().c_str(), 1);
  const FakeApplication<app::VantelioZiraApplicationAnswers> product;
  const auto paths = product.supportFilePathsWithDate(std::chrono::system_clock::time_point{});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0], documents / (product.applicationBundleName() + " Local DataSource"));
  EXPECT_TRUE(FakeApplication<app::CorvaneApplication>().supportFilePathsWithDate({}).empty());
  if (previous) ::setenv("XDG_DOCUMENTS_DIR", saved.c_str(), 1);
  else ::unsetenv("XDG_DOCUMENTS_DIR");
}

}  // namespace
