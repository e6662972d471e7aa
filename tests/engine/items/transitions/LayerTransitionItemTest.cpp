// The layer transition item: what it takes from its transition, the key-frame
// animations it builds for the two layers, and their update each frame.
#include <gtest/gtest.h>

#include "engine/items/CVNMediaQueuePlayerItem.h"

#include "engine/items/transitions/CVNLayerTransitionQueuePlayerItem.h"
#include "tests/engine/items/ItemFakes.h"

namespace engine::items {
namespace {

using platform::Value;

// What the graphics layer was asked to expand; answers a dictionary that
// names the animation it came from, or none for the side told to give none.
struct RecordingBuilder {
  struct Call {
    std::optional<BasicAnimationType> type;
    foundation::Rect itemFrame;
    foundation::Point anchorPoint;
    foundation::Rect project;
    double offset;
    bool out;
  };
  std::vector<Call> calls;
  bool outAnimationsEmpty = false;

  CVNLayerTransitionQueuePlayerItem::KeyFrameAnimationsBuilder builder() {
    return [this](const CVNBasicAnimation* animation, foundation::Rect frame, foundation::Point anchor,
                  foundation::Rect project, double offset, bool out) -> platform::Dictionary {
      calls.push_back({animation ? std::optional(animation->type()) : std::nullopt, frame, anchor, project, offset, out});
      if (out && outAnimationsEmpty) return {};
      return {{"opacity", Value(out ? "A out" : "B in")}};
    };
  }
};

std::shared_ptr<CVNCGItem> layer(foundation::Rect frame, foundation::Point anchor) {
  auto item = std::make_shared<CVNCGItem>();
  item->setFrame(frame);
  item->setAnchorPoint(anchor);
  return item;
}

std::shared_ptr<CVNLayerTransition> fadeOutFadeIn(double duration) {
  auto transition = CVNLayerTransition::fadeOutFadeInTransition();
  transition->setDuration(duration, true);
  return transition;
}

TEST(LayerTransitionItemTest, TakesIdentityDurationAndAnimationsFromItsTransition) {
  const auto transition = CVNLayerTransition::pushLayerTransition();
  CVNLayerTransitionQueuePlayerItem item(transition);
  EXPECT_TRUE(item.isTransition());
  EXPECT_EQ(item.uniqueID(), transition->uniqueID());
  EXPECT_EQ(item.displayName(), transition->name());
  EXPECT_EQ(item.playbackDuration(), transition->duration());
  EXPECT_EQ(item.transitionType(), TransitionType::Layer);
  EXPECT_EQ(item.itemAEndOffset(), transition->itemAEndOffset());
  EXPECT_EQ(item.itemBStartOffset(), transition->itemBStartOffset());
  ASSERT_TRUE(item.itemABasicAnimation() && item.itemBBasicAnimation());
  EXPECT_EQ(item.itemABasicAnimation()->type(), BasicAnimationType::Push);
  EXPECT_EQ(item.itemABasicAnimation()->option(), transition->option());
  EXPECT_EQ(item.itemBBasicAnimation()->option(), CVNLayerTransition::invertedOption(transition->option()));
}

TEST(LayerTransitionItemTest, BuildsAOutFromTheStartAndBInToEndWithTheTransition) {
  RecordingBuilder recorder;
  CVNLayerTransitionQueuePlayerItem item(fadeOutFadeIn(2.0), recorder.builder());
  item.setOutputDisplayMode(item_fakes::displayMode(1280, 720));
  item.setItemBBasicAnimation(std::nullopt);

  const foundation::Rect frameA{{10, 20}, {640, 360}};
  const auto itemA = layer(frameA, {0.25, 0.75});
  item.setItemA(itemA);
  item.setItemA(itemA);  // the same layer again rebuilds nothing
  ASSERT_EQ(recorder.calls.size(), 2u);
  const foundation::Rect project{{0, 0}, {1280, 720}};
  const auto& a = recorder.calls[0];
  EXPECT_EQ(a.type, BasicAnimationType::Fade);
  EXPECT_EQ(a.itemFrame, frameA);
  EXPECT_EQ(a.anchorPoint, (foundation::Point{0.25, 0.75}));
  EXPECT_EQ(a.project, project);
  EXPECT_EQ(a.offset, 0.0);
  EXPECT_TRUE(a.out);
  // No item B and no animation for it: a zero frame and anchor, running from the very end.
  const auto& b = recorder.calls[1];
  EXPECT_EQ(b.type, std::nullopt);
  EXPECT_EQ(b.itemFrame, foundation::Rect{});
  EXPECT_EQ(b.anchorPoint, foundation::Point{});
  EXPECT_EQ(b.offset, 2.0);
  EXPECT_FALSE(b.out);

  recorder.calls.clear();
  item.setItemBBasicAnimation(item.itemABasicAnimation());  // 2.0 s long
  item.setItemB(layer({}, {0.5, 0.5}));
  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[1].offset, 0.0);

  // Reading starts the clock and builds them once more.
  recorder.calls.clear();
  item.startReading();
  EXPECT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(item.itemAKeyFrameAnimations().at("opacity"), Value("A out"));
  EXPECT_EQ(item.itemBKeyFrameAnimations().at("opacity"), Value("B in"));
}

TEST(LayerTransitionItemTest, EachFrameMovesBothLayersToTheElapsedTime) {
  for (const bool outAnimationsEmpty : {false, true}) {
    SCOPED_TRACE(outAnimationsEmpty ? "A without animations" : "A and B animated");
    RecordingBuilder recorder;
    recorder.outAnimationsEmpty = outAnimationsEmpty;
    CVNLayerTransitionQueuePlayerItem item(fadeOutFadeIn(1.0), recorder.builder());
    item.setOutputDisplayMode(item_fakes::displayMode(1920, 1080));
    const auto itemA = layer({{0, 0}, {1920, 1080}}, {0.5, 0.5});
    const auto itemB = layer({{0, 0}, {1920, 1080}}, {0.5, 0.5});
    item.setItemA(itemA);
    item.setItemB(itemB);
    item.startReading();
    for (int frame = 0; frame < 3; ++frame) {
      item.updateLayersForNextFrame();
      item.prepareNextTextureUsingCommandBuffer(nullptr, true, kPlaybackStatusPlaying);
    }
    item.prepareNextTextureUsingCommandBuffer(nullptr, false, kPlaybackStatusPlaying);
    item.updateLayersForNextFrame();

    const std::vector<double> times{0.0, 0.04, 0.08, 0.12};
    const auto& updatesB = itemB->animatedPropertiesUpdates();
    ASSERT_EQ(updatesB.size(), times.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
      EXPECT_DOUBLE_EQ(updatesB[i].animationTime, times[i]) << i;
      EXPECT_EQ(updatesB[i].keyFrameAnimations.at("opacity"), Value("B in"));
    }
    const auto& updatesA = itemA->animatedPropertiesUpdates();
    ASSERT_EQ(updatesA.size(), outAnimationsEmpty ? 0u : times.size());
    for (const auto& update : updatesA) EXPECT_EQ(update.keyFrameAnimations.at("opacity"), Value("A out"));
  }
}

}  // namespace
}  // namespace engine::items
