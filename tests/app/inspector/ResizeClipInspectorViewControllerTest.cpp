// The Resize pane: mixed states, empty fields, ranges, switching off.

#include <gtest/gtest.h>

#include "tests/app/inspector/InspectorFixture.h"

namespace app::inspector::testing {
namespace {

class ResizePaneTest : public InspectorTest {
 protected:
  void SetUp() override {
    playlistWindowBecomesKey();
    inspector.changePanes(2);
  }
  ResizeClipInspectorViewController& pane() { return inspector.resizeClipInspectorViewController(); }
  static void resize(nodes::PlaylistItem& item, float x, float y, float width, float height) {
    item.setDisplayOriginX(x);
    item.setDisplayOriginY(y);
    item.setDisplaySizeWidth(width);
    item.setDisplaySizeHeight(height);
    item.setResized(true);
  }
};

TEST_F(ResizePaneTest, OneResizedClipAmongOthersGivesAMixedBoxThatTurnsOn) {
  resize(*clip(0), 10, 20, 640, 360);
  selectRows({0, 1});
  EXPECT_EQ(pane().state().checkBox, CheckState::Mixed);
  EXPECT_TRUE(pane().state().fieldsEnabled);
  pane().resizeVideoChecked();
  EXPECT_EQ(pane().state().checkBox, CheckState::On);
}

TEST_F(ResizePaneTest, DifferingValuesShowEmptyFields) {
  resize(*clip(0), 10, 20, 640, 360);
  resize(*clip(1), 10, 20, 800, 360);
  resize(*clip(2), 10, 20, 640, 360);
  selectRows({0, 1, 2});
  EXPECT_EQ(pane().state()[ResizeField::OriginX], "10");
  EXPECT_EQ(pane().state()[ResizeField::OriginY], "20");
  EXPECT_EQ(pane().state()[ResizeField::Width], "");
  EXPECT_EQ(pane().state()[ResizeField::Height], "360");
}

TEST_F(ResizePaneTest, AClipNotResizedShowsItsOriginAndNaturalSize) {
  selectRows({2});
  EXPECT_EQ(pane().state().checkBox, CheckState::Off);
  EXPECT_FALSE(pane().state().fieldsEnabled);
  EXPECT_EQ(pane().state()[ResizeField::Width], "1920");
  EXPECT_EQ(pane().state()[ResizeField::Height], "1080");
}

TEST_F(ResizePaneTest, SwitchingOffResetsEveryClipAtOnce) {
  resize(*clip(0), 10, 20, 640, 360);
  resize(*clip(1), 5, 5, 320, 180);
  selectRows({0, 1});
  pane().resizeVideoChecked();  // mixed -> on
  pane().resizeVideoChecked();  // on -> off
  for (std::size_t row : {0U, 1U}) {
    EXPECT_EQ(clip(row)->displaySizeWidth(), 0) << row;
    EXPECT_EQ(clip(row)->displayOriginX(), 0) << row;
    EXPECT_FALSE(clip(row)->resized()) << row;
  }
  EXPECT_EQ(changeNotifications, 1);
}

TEST_F(ResizePaneTest, ApplyLeavesEachClipsValueForAnEmptyField) {
  resize(*clip(0), 10, 20, 640, 360);
  resize(*clip(1), 10, 20, 800, 450);
  selectRows({0, 1});
  ASSERT_EQ(pane().state().checkBox, CheckState::On);
  pane().setFieldText(ResizeField::OriginX, "100");
  ASSERT_TRUE(pane().apply());
  EXPECT_EQ(clip(0)->displayOriginX(), 100);
  EXPECT_EQ(clip(1)->displayOriginX(), 100);
  EXPECT_EQ(clip(0)->displaySizeWidth(), 640);
  EXPECT_EQ(clip(1)->displaySizeWidth(), 800);
  EXPECT_EQ(clip(1)->displaySizeHeight(), 450);
}

TEST_F(ResizePaneTest, ApplyRefusesValuesOutOfRange) {
  resize(*clip(0), 10, 20, 640, 360);
  selectRows({0});
  const std::pair<ResizeField, const char*> refused[] = {
      {ResizeField::Width, "0"},        {ResizeField::Height, "16385"}, {ResizeField::OriginX, "-16385"},
      {ResizeField::OriginY, "nan"},    {ResizeField::Width, "12px"},   {ResizeField::Height, "-5"}};
  for (const auto& [field, text] : refused) {
    pane().setFieldText(field, text);
    EXPECT_FALSE(pane().apply()) << text;
    pane().setFieldText(field, "");
  }
  EXPECT_EQ(clip(0)->displaySizeWidth(), 640);
  EXPECT_EQ(clip(0)->displayOriginY(), 20);
  EXPECT_EQ(changeNotifications, 0);
}

TEST_F(ResizePaneTest, ClipsOnAPlayingNodeAreReplacedThere) {
  context.playlistOnNode[kNodeA] = "playlist-1";
  resize(*clip(1), 0, 0, 640, 360);
  selectRows({1, 2});
  pane().resizeVideoChecked();
  pane().setFieldText(ResizeField::Width, "720");
  pane().setFieldText(ResizeField::Height, "576");
  ASSERT_TRUE(pane().apply());
  EXPECT_EQ(context.replacements, (std::vector<Replacement>{{1, kNodeA}, {2, kNodeA}}));
  EXPECT_EQ(changeNotifications, 0);
  EXPECT_TRUE(clip(2)->resized());
}

}  // namespace
}  // namespace app::inspector::testing
