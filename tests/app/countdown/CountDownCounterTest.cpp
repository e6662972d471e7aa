#include "app/countdown/CountDownCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace app::countdown {
namespace {

using Colour = TimeCountColour;

std::shared_ptr<nodes::PlaylistItem> clip(double durationInSeconds, const char* endBehaviour = nullptr) {
  auto item = std::make_shared<nodes::PlaylistItem>();
  item->setMediaItemDurationInSeconds(durationInSeconds);
  item->setFramesPerSecond(25.0);
  if (endBehaviour) item->setAttributes(platform::Dictionary{{nodes::kClipEndBehaviourAttribute, endBehaviour}});
  return item;
}

TEST(CountDownCounterTest, CounterTextAndColourFollowTheTypeAndTheTimeLeft) {
  struct Case {
    std::int32_t type;
    double duration, position, startInBlock, block;
    std::string startTimeCode;
    TimeCountDisplay expected;
  };
  const std::vector<Case> cases = {
      {1, 60, 50.5, 0, 60, "", {"00:00:09", Colour::Red}},
      {1, 60, 31, 0, 60, "", {"00:00:29", Colour::Orange}},
      {1, 60, 29, 0, 60, "", {"00:00:31", Colour::Green}},
      {1, 60, 50, 0, 60, "", {"00:00:10", Colour::Orange}},
      {2, 60, 55, 0, 60, "", {"00:00:55", Colour::Green}},
      {3, 60, 10, 100, 200, "", {"00:01:30", Colour::Green}},
      {3, 60, 45, 150, 200, "", {"00:00:05", Colour::Red}},
      {4, 60, 10, 100, 200, "", {"00:01:50", Colour::Green}},
      {7, 60, 5, 0, 60, "01:00:00:00", {"01:00:05", Colour::White}},
      {5, 60, 5, 0, 60, "", {"--:--:--", Colour::White}},
      {6, 60, 5, 0, 60, "", {"--:--:--", Colour::White}},
      {0, 60, 5, 0, 60, "", {"--:--:--", Colour::White}},
      {9, 60, 5, 0, 60, "", {"--:--:--", Colour::White}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " position " + std::to_string(c.position));
    auto item = clip(c.duration);
    item->setRelativeStartTimeInSeconds(c.startInBlock);
    item->setBlockDurationInSeconds(c.block);
    if (!c.startTimeCode.empty()) item->setMediaItemStartTimeCode(c.startTimeCode);
    EXPECT_EQ(timeCountDisplay(c.type, *item, c.position), c.expected);
  }
}

TEST(CountDownCounterTest, NextClipFollowsChainAndLoop) {
  struct Case {
    std::size_t count, current;
    bool chain, loop;
    std::optional<std::size_t> expected;
  };
  const std::vector<Case> cases = {
      {3, 0, true, true, 1},  {3, 2, true, true, 0},  {3, 1, false, true, 1},  {3, 2, false, true, 2},
      {3, 1, true, false, 2}, {3, 2, true, false, {}}, {3, 0, false, false, {}}, {0, 0, true, true, {}},
      {1, 0, true, true, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nextClipIndex(c.count, c.current, c.chain, c.loop), c.expected)
        << c.count << " clips, current " << c.current << " chain " << c.chain << " loop " << c.loop;
  }
}

TEST(CountDownCounterTest, BlocksEndAtTheFirstClipThatDoesNotChainUnlessThePlaylistChains) {
  const std::vector<std::shared_ptr<nodes::PlaylistItem>> playlist = {
      clip(10, nodes::kClipEndBehaviourChain), clip(20, nodes::kClipEndBehaviourStopAtEnd), clip(30),
      clip(40, nodes::kClipEndBehaviourChain), clip(50)};
  computeBlockDurations(playlist, false);
  const std::vector<std::pair<double, double>> separate = {{0, 30}, {10, 30}, {0, 30}, {0, 90}, {40, 90}};
  for (std::size_t i = 0; i < playlist.size(); ++i) {
    EXPECT_EQ(playlist[i]->relativeStartTimeInSeconds(), separate[i].first) << "clip " << i;
    EXPECT_EQ(playlist[i]->blockDurationInSeconds(), separate[i].second) << "clip " << i;
  }

  computeBlockDurations(playlist, true);
  const std::vector<double> starts = {0, 10, 30, 60, 100};
  for (std::size_t i = 0; i < playlist.size(); ++i) {
    EXPECT_EQ(playlist[i]->relativeStartTimeInSeconds(), starts[i]) << "clip " << i;
    EXPECT_EQ(playlist[i]->blockDurationInSeconds(), 150) << "clip " << i;
  }
}

// The search must give what trying every size from 50 upwards gives.
TEST(CountDownCounterTest, FontSizeIsTheLargestThatFitsAsALinearSearchWouldFindIt) {
  const auto linear = [](double width, double height, const std::function<TextSize(int)>& measure) {
    for (int size = kSmallestTimeCountSize; size <= kLargestTimeCountSize; ++size) {
      const TextSize text = measure(size);
      if (text.width > static_cast<int>(width - 50.0) || text.height > height) return size - 1;
    }
    return kLargestTimeCountSize;
  };
  const auto eightDigits = [](int size) { return TextSize{size * 4.8, size * 1.2}; };
  const std::vector<std::pair<double, double>> fields = {
      {600, 200}, {600, 1000}, {2000, 300}, {100, 100}, {30, 10}, {20000, 20000}, {530.9, 500}};
  for (const auto& [width, height] : fields) {
    EXPECT_EQ(timeCountSize(width, height, eightDigits), linear(width, height, eightDigits))
        << width << " x " << height;
  }
  EXPECT_EQ(timeCountSize(600, 200, eightDigits), 114);  // 114 * 4.8 = 547.2 fits 550; 115 does not
  EXPECT_EQ(timeCountSize(30, 10, eightDigits), 49);
  EXPECT_EQ(timeCountSize(20000, 20000, eightDigits), 999);
}

}  // namespace
}  // namespace app::countdown
