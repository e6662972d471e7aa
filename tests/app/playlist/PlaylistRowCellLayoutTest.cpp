// Where the parts of a playlist row go, and which badges and mark it shows.

#include <gtest/gtest.h>

#include <limits>

#include "app/playlist/PlaylistRowCellLayout.h"

namespace {

using app::LayoutRect;
using app::LayoutSize;
using app::PlaylistRowCellInput;
using app::RowCellBadge;
using app::RowCellMark;

PlaylistRowCellInput row(bool thumbnails, std::int32_t abPosition = 0) {
  PlaylistRowCellInput input;
  input.frame = LayoutRect{0.0, 100.0, 600.0, thumbnails ? 55.0 : 22.5};
  input.showThumbnails = thumbnails;
  input.abRollClipPosition = abPosition;
  return input;
}

TEST(PlaylistRowCellLayoutTest, ThumbnailSizeKeepsProportionAndRefusesEmptyPictures) {
  EXPECT_EQ(app::rowThumbnailSize({1920, 1080}), (LayoutSize{60, 34}));
  EXPECT_EQ(app::rowThumbnailSize({720, 576}), (LayoutSize{60, 48}));
  for (const LayoutSize size : {LayoutSize{0, 1080}, LayoutSize{1920, 0}, LayoutSize{-5, 10},
                                LayoutSize{std::numeric_limits<double>::quiet_NaN(), 10}}) {
    EXPECT_FALSE(app::rowThumbnailSize(size).has_value()) << size.width << "x" << size.height;
  }

  auto input = row(true);
  input.thumbnailSize = LayoutSize{1920, 1080};
  EXPECT_EQ(app::layoutPlaylistRowCell(input).thumbnail, (LayoutRect{90, 110.5, 60, 34}));
  // A zero-width picture, or none, keeps the three-line layout without a thumbnail.
  input.thumbnailSize = LayoutSize{0, 0};
  const auto zero = app::layoutPlaylistRowCell(input);
  EXPECT_FALSE(zero.thumbnail.has_value());
  EXPECT_TRUE(zero.informationLine.has_value());
  EXPECT_EQ(zero.mark, std::nullopt);
}

TEST(PlaylistRowCellLayoutTest, BadgeRowAndPointsInBothLayouts) {
  auto compact = row(false);
  compact.badges = {RowCellBadge::Loop, RowCellBadge::Attribute};
  compact.hasInPoint = true;
  compact.hasOutPoint = true;
  const auto c = app::layoutPlaylistRowCell(compact);
  ASSERT_EQ(c.badges.size(), 2u);
  EXPECT_EQ(c.badges[0].rect, (LayoutRect{502, 106.5, 13, 13}));  // maxX - 98, y + 6.5
  EXPECT_EQ(c.badges[1].rect.x, 485);
  EXPECT_EQ(c.outPointMark, (LayoutRect{468, 108.5, 13, 13}));
  EXPECT_EQ(c.inPointMark, (LayoutRect{451, 108.5, 13, 13}));
  EXPECT_FALSE(c.inPointText.has_value());
  EXPECT_EQ(c.name, (LayoutRect{131, 103, 600 - 220 - 17 * 3, 18}));  // both points take one slot

  auto thumbs = row(true);
  thumbs.badges = {RowCellBadge::Chain};
  thumbs.hasOutPoint = true;
  const auto t = app::layoutPlaylistRowCell(thumbs);
  EXPECT_EQ(t.badges[0].rect, (LayoutRect{581, 136, 13, 13}));  // maxX - 19, y + 36
  EXPECT_EQ(t.outPointText, (LayoutRect{14, 135, 70, 20}));
  EXPECT_EQ(t.outPointMark, (LayoutRect{75, 137, 13, 13}));
  EXPECT_FALSE(t.inPointMark.has_value());
  EXPECT_EQ(t.name, (LayoutRect{155, 103, 350, 18}));
}

TEST(PlaylistRowCellLayoutTest, ABRollMovesSidePartsButNotTheMark) {
  auto input = row(false, 1);
  input.mark = RowCellMark::Playing;
  input.finderLabelIndex = 8;
  const auto g = app::layoutPlaylistRowCell(input);
  EXPECT_EQ(g.startTime.x, 56);
  EXPECT_EQ(g.duration.x + g.duration.width, 600 - 56);
  EXPECT_EQ(g.mark, (LayoutRect{95, 107, 10, 10}));
  EXPECT_EQ(g.nodeLabel, (LayoutRect{1, 100, 48, 20}));
  EXPECT_EQ(g.name.width, 600 - 220 - 50 - 50);
  EXPECT_FALSE(g.colourLabel.has_value());
  // Bubble: fillers on both sides, the caps inside the margin.
  ASSERT_TRUE(g.leftFiller && g.rightFiller && g.rightCap);
  EXPECT_EQ(*g.leftCap, (LayoutRect{45, 99, 10, 57 / 2.2}));
  EXPECT_EQ(g.rightCap->x, 45 + 10 + 495);

  const auto b = app::layoutPlaylistRowCell(row(true, 2));
  EXPECT_FALSE(b.rightCap.has_value());
  EXPECT_EQ(b.rightFiller, (LayoutRect{549, 99, 55, 57}));
  EXPECT_EQ(b.nodeLabel, (LayoutRect{549, 101, 48, 20}));

  const auto none = app::layoutPlaylistRowCell(row(true, 0));
  EXPECT_FALSE(none.leftFiller.has_value());
  EXPECT_EQ(none.centre, (LayoutRect{9, 99, 583, 57}));
}

TEST(PlaylistRowCellLayoutTest, BadgesFollowTheAttributes) {
  using D = platform::Dictionary;
  const struct {
    D attributes;
    bool offersLogo;
    bool resize;
    std::vector<RowCellBadge> badges;
  } cases[] = {
      {D{{"Clip End Behaviour", "Normal"}}, false, false, {}},
      {D{{"Audio Volume", 0.5}}, false, false, {}},
      {D{}, true, false, {RowCellBadge::Logo}},
      {D{{"Overlay Logo", "None"}}, true, false, {}},
      {D{{"Overlay Logo", "Top"}}, false, false, {}},
      {D{{"Clip End Behaviour", "Loop"}, {"Reverse Field Order", "Reversed"}, {"Gain", 3}},
       false,
       true,
       {RowCellBadge::Loop, RowCellBadge::ReverseFieldsOrder, RowCellBadge::Resize, RowCellBadge::Attribute}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(app::rowCellBadges(cases[i].attributes, cases[i].offersLogo, cases[i].resize), cases[i].badges)
        << "case " << i;
  }
}

TEST(PlaylistRowCellLayoutTest, MarkFollowsValidityThenStatus) {
  const struct {
    std::int32_t status;
    bool online;
    bool locked;
    std::int32_t validation;
    RowCellMark mark;
  } cases[] = {
      {3, false, false, 2, RowCellMark::Offline}, {3, true, false, 1, RowCellMark::Offline},
      {0, true, true, 2, RowCellMark::Locked},    {0, true, false, 2, RowCellMark::None},
      {2, true, false, 2, RowCellMark::Paused},   {3, true, false, 2, RowCellMark::Playing},
      {4, true, false, 2, RowCellMark::None},     {5, true, false, 2, RowCellMark::Offline},
      {6, true, false, 2, RowCellMark::HoldLastFrame}, {7, true, false, 2, RowCellMark::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::rowCellMark(c.status, c.online, c.locked, c.validation), c.mark) << c.status;
  }
}

}  // namespace
