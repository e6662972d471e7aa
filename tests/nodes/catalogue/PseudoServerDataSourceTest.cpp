// The catalogue data source: its catalogue under the given folder, the reset
// of a new store, and the catalogue operations answered through it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nodes/catalogue/PseudoServerDataSource.h"
#include "platform/UserDefaults.h"
#include "tests/nodes/catalogue/ClipCatalogueFixture.h"

namespace nodes {
namespace {

using catalogue_testing::makeClip;
using platform::Value;
using ::testing::ElementsAre;

class PseudoServerDataSourceTest : public catalogue_testing::ClipCatalogueFixture {
 protected:
  void SetUp() override {
    const platform::Dictionary folder{{"mediaFolderUniqueID", Value("folder-1")},
                                      {"mediaFolderInitialized", Value(true)}};
    const platform::Dictionary node{{kSavedNodeUniqueIDKey, Value("node-1")},
                                    {kSavedNodeNameKey, Value("Studio")},
                                    {kSavedNodeMediaFoldersKey, Value(platform::Array{Value(folder)})}};
    defaults_.setObject(Value(platform::Array{Value(node)}), kDiscoveredNodesKey);
  }

  std::shared_ptr<PseudoServerDataSource> makeDataSource() {
    PseudoServerDataSource::Options options;
    options.notificationCenter = &center_;
    options.bundleName = "Test";
    return PseudoServerDataSource::create(folder_.path(), nullptr, std::move(options));
  }

  bool savedFolderInitialized() {
    const platform::Array saved = defaults_.arrayForKey(kDiscoveredNodesKey).value_or(platform::Array{});
    if (saved.empty()) return false;
    const platform::Array* folders = saved.front()[kSavedNodeMediaFoldersKey].array();
    return folders && !folders->empty() && folders->front()["mediaFolderInitialized"].booleanOr(false);
  }

  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
};

TEST_F(PseudoServerDataSourceTest, ANewCatalogueIsResetAndServesTheCatalogueOperations) {
  std::shared_ptr<PseudoServerDataSource> source = makeDataSource();
  EXPECT_EQ(source->description(), "Local Server");
  EXPECT_EQ(source->type(), 1);
  EXPECT_EQ(source->rootPath(), root());
  EXPECT_FALSE(savedFolderInitialized());  // enumerated afresh into the new store

  perform([&] { source->addOrUpdateClips({makeClip({"clip-1", "/m/x.mov"})}); });
  EXPECT_THAT(changeNames(), ElementsAre("clipsAdded"));
  ASSERT_TRUE(source->clipsForNodeUniqueID("node-1"));
  EXPECT_EQ(source->clipsForNodeUniqueID("node-1")->size(), 1u);
  EXPECT_TRUE(source->clipWithUniqueID("clip-1"));

  // An existing store is not reset.
  source.reset();
  defaults_.setObject(Value(), kDiscoveredNodesKey);
  SetUp();
  source = makeDataSource();
  EXPECT_TRUE(savedFolderInitialized());
  EXPECT_TRUE(source->clipWithUniqueID("clip-1"));
}

TEST_F(PseudoServerDataSourceTest, ErasingANodeRemovesItsClipsAndItsSavedEntry) {
  std::shared_ptr<PseudoServerDataSource> source = makeDataSource();
  storeClips(source->catalogue(), {makeClip({"clip-1", "/m/x.mov"}), makeClip({"clip-2", "/m/y.mov", "", "node-2"})});
  ASSERT_TRUE(source->eraseTracesForNodeWithUniqueID("node-1").ok());
  EXPECT_FALSE(source->clipWithUniqueID("clip-1"));
  EXPECT_TRUE(source->clipWithUniqueID("clip-2"));
  EXPECT_TRUE(defaults_.arrayForKey(kDiscoveredNodesKey).value_or(platform::Array{}).empty());
}

}  // namespace
}  // namespace nodes
