// The Info pane and the metadata shown under it.

#include <gtest/gtest.h>

#include "tests/app/inspector/InspectorFixture.h"

namespace app::inspector::testing {
namespace {

class InfoPaneTest : public InspectorTest {
 protected:
  void SetUp() override { inspector.changePanes(3); }
  const GeneralPaneState& info() { return inspector.generalClipInspectorViewController().state(); }
  const MetadataPaneState& metadata() { return inspector.metadataClipInspectorViewController().state(); }
};

TEST_F(InfoPaneTest, NoneOrSeveralClipsHideEveryLabel) {
  selectRows({});
  EXPECT_EQ(info().selectionValidation, kNoSelectionText);
  EXPECT_TRUE(info().labelsHidden);
  selectRows({0, 2});
  EXPECT_EQ(info().selectionValidation, kMultipleSelectionText);
  EXPECT_TRUE(info().labelsHidden);
  EXPECT_TRUE(metadata().scrollViewHidden);
}

TEST_F(InfoPaneTest, OneClipShowsItsValuesWithUniqueIDsAsToolTips) {
  auto item = clip(1);
  item->setFramesPerSecond(29.97);
  item->setDropFrame(true);
  item->setNodeName("");
  item->setMediaItemUniqueID("media-7");
  item->setOutPointInSeconds(4);
  item->setHasOutPoint(true);
  selectRows({1});
  EXPECT_EQ(info().selectionValidation, "");
  EXPECT_FALSE(info().labelsHidden);
  EXPECT_EQ(info()[InfoField::ClipName], (InfoValue{"two", "two-id"}));
  EXPECT_EQ(info()[InfoField::Source].toolTip, "media-7");
  EXPECT_EQ(info()[InfoField::Fps].text, "29.97 (drop frame)");
  EXPECT_EQ(info()[InfoField::NodeName].text, "-");
  EXPECT_EQ(info()[InfoField::InPoint].text, "none");
  EXPECT_NE(info()[InfoField::OutPoint].text, "none");
  EXPECT_EQ(info()[InfoField::Size].text, "1920 x 1080 pixels");
  item->setDisplaySizeWidth(640);
  item->setDisplaySizeHeight(360);
  selectRows({0});
  selectRows({1});
  EXPECT_EQ(info()[InfoField::Size].text, "640 x 360 pixels");
  EXPECT_EQ(info()[InfoField::Fps].text, "29.97 (drop frame)");
}

TEST_F(InfoPaneTest, MetadataFollowsTheDisplayOrderAndShownKeysOfTheInspectedClip) {
  auto entry = [](const char* key, const char* value) {
    nodes::Metadata m;
    m.setKey(key);
    m.setValue(value);
    return m;
  };
  clip(0)->setMetadataArray({entry("Title", "News"), entry("Author", "Ann"), entry("Title", "Late"), entry("Codec", "x")});
  context.userDefaults.setObject(
      platform::Value(platform::Dictionary{{"0", platform::Value("Title")}, {"1", platform::Value("Author")},
                                           {"2", platform::Value("Missing")}}),
      "metadataOrderDict");
  context.userDefaults.setObject(
      platform::Value(platform::Dictionary{{"Title", platform::Value(true)}, {"Author", platform::Value(false)}}),
      "metadataShowDict");
  // The inspector's own selection: a media browser clip shows too.
  context.browserSelection = {clip(0)};
  context.center.post(kMediaBrowserSelectionDidChangedNotification);
  ASSERT_EQ(metadata().metadataArrayFiltered.size(), 2U);
  EXPECT_EQ(metadata().metadataArrayFiltered[0].value(), "News");
  EXPECT_EQ(metadata().metadataArrayFiltered[1].value(), "Late");

  context.userDefaults.setObject(
      platform::Value(platform::Dictionary{{"Title", platform::Value(true)}, {"Author", platform::Value(true)}}),
      "metadataShowDict");
  context.center.post("MetadataEntriesDidChange");
  ASSERT_EQ(metadata().metadataArrayFiltered.size(), 3U);
  EXPECT_EQ(inspector.metadataClipInspectorViewController().objectValue("value", 2), "Ann");
  EXPECT_EQ(inspector.metadataClipInspectorViewController().objectValue("nothing", 0), std::nullopt);
}

}  // namespace
}  // namespace app::inspector::testing
