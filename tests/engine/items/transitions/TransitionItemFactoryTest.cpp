// The queue player's transition factory: which item each transition
// dictionary gives, its duration and mix points, and what it refuses.
#include <gtest/gtest.h>

#include "engine/items/transitions/CVNLayerTransitionQueuePlayerItem.h"
#include "engine/items/transitions/CVNMovieTransitionQueuePlayerItem.h"
#include "engine/items/transitions/CVNShaderTransitionQueuePlayerItem.h"
#include "engine/items/transitions/TransitionItemFactory.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/engine/items/ScriptedSession.h"
#include "tests/support/TemporaryDirectory.h"

namespace engine::items {
namespace {

using platform::Dictionary;
using platform::Value;

Dictionary with(Dictionary dictionary, const Dictionary& extra) {
  for (const auto& [key, value] : extra) dictionary[key] = value;
  return dictionary;
}

Dictionary without(Dictionary dictionary, const char* key) {
  dictionary.erase(key);
  return dictionary;
}

const Dictionary kLayer{{"uniqueID", Value("CrossFade")},  {"displayName", Value("Cross Fade")},
                        {"transitionType", Value("layer")}, {"duration", Value(2.0)},
                        {"itemAEndOffset", Value(1.5)},     {"itemBStartOffset", Value(0.5)}};
const Dictionary kShader = with(kLayer, {{"uniqueID", Value("WipeSingleBox_topLeft")},
                                         {"transitionType", Value("shader")},
                                         {"duration", Value(0.8)},
                                         {"itemAEndOffset", Value(0.6)},
                                         {"itemBStartOffset", Value(0.2)},
                                         {"ShaderAnimationType", Value("WipeSingleBox")},
                                         {"ShaderAnimationOption", Value("topCenter")}});
const Dictionary kAlphaMovie = with(kLayer, {{"uniqueID", Value("Burst")},
                                             {"displayName", Value("Burst")},
                                             {"transitionType", Value("alphaMovie")},
                                             {"duration", Value(1.2)},
                                             {"itemAEndOffset", Value(0.3)},
                                             {"itemBStartOffset", Value(0.9)},
                                             {"TransitionFilePath", Value("/media/transitions/burst.mov")},
                                             {"ShouldPremultiplyByAlpha", Value(true)}});
// A cut on frame 12, at 25 frames a second of output.
const Dictionary kMaskAtCut = with(without(without(kAlphaMovie, "itemAEndOffset"), "itemBStartOffset"),
                                   {{"transitionType", Value("maskingMovie")},
                                    {"CutFrameNumber", Value(12)},
                                    {"ShouldPremultiplyByAlpha", Value(false)}});

enum class Kind { None, Layer, Shader, AlphaMovie, MaskingMovie };

Kind kindOf(const CVNQueuePlayerItem* item) {
  if (!item) return Kind::None;
  if (dynamic_cast<const CVNLayerTransitionQueuePlayerItem*>(item)) return Kind::Layer;
  if (dynamic_cast<const CVNShaderTransitionQueuePlayerItem*>(item)) return Kind::Shader;
  const auto* movie = dynamic_cast<const CVNMovieTransitionQueuePlayerItem*>(item);
  if (!movie) return Kind::None;
  return movie->isMask() ? Kind::MaskingMovie : Kind::AlphaMovie;
}

struct FactoryCase {
  const char* what;
  Dictionary dictionary;
  Kind kind;
  double duration = 0;
  double aEnd = 0;
  double bStart = 0;
  bool premultiplies = false;
};

class TransitionItemFactoryTest : public ::testing::Test {
 protected:
  std::shared_ptr<CVNQueuePlayerItem> make(const Dictionary& dictionary) {
    std::shared_ptr<CVNQueuePlayerItem> item;
    delegate_.runOnQueue([&] {
      item = transitionFromDictionary(dictionary, {nullptr, mode_, k2vuy, {}, &delegate_},
                                      item_fakes::scriptedFactory({}, &session_));
    });
    return item;
  }

  static constexpr std::uint32_t k2vuy = platform::media::kPixelFormat422YpCbCr8;
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  bool levelSet_ = (defaults_.setObject(Value(3), "technicalLogLevel"), true);
  testing_support::CapturedTechnicalLog log_{defaults_};
  item_fakes::RecordingItemDelegate delegate_;
  CVNQueuePlayerItem::DisplayModeRef mode_ = item_fakes::displayMode(1920, 1080);
  std::shared_ptr<item_fakes::ScriptedSession> session_;
};

TEST_F(TransitionItemFactoryTest, GivesTheItemOfEachTypeTimedAndMixedByItsTransition) {
  const FactoryCase cases[] = {
      {"layer", kLayer, Kind::Layer, 2.0, 1.5, 0.5},
      {"shader, its duration over the item's 1.0 s", kShader, Kind::Shader, 0.8, 0.6, 0.2},
      {"alpha movie", kAlphaMovie, Kind::AlphaMovie, 1.2, 0.3, 0.9, true},
      {"masking movie cut on a frame", kMaskAtCut, Kind::MaskingMovie, 1.2, 0.48, 0.48},
      {"the cut frame wins over the offsets", with(kAlphaMovie, {{"CutFrameNumber", Value(5)}}), Kind::AlphaMovie, 1.2,
       0.2, 0.2, true},
      {"a layer's cut frame is not read", with(kLayer, {{"CutFrameNumber", Value(5)}}), Kind::Layer, 2.0, 1.5, 0.5},
      {"unknown type", with(kLayer, {{"transitionType", Value("wipe")}}), Kind::None},
      {"type not a string", with(kLayer, {{"transitionType", Value(3)}}), Kind::None},
      {"no type", without(kLayer, "transitionType"), Kind::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto item = make(c.dictionary);
    ASSERT_EQ(kindOf(item.get()), c.kind);
    if (!item) continue;
    EXPECT_TRUE(item->isTransition());
    EXPECT_EQ(item->delegate(), &delegate_);
    EXPECT_EQ(item->outputDisplayMode(), mode_);
    EXPECT_DOUBLE_EQ(item->playbackDuration(), c.duration);
    EXPECT_TRUE(item->hasPreviousItemMixPoint());
    EXPECT_TRUE(item->hasNextItemMixPoint());
    EXPECT_DOUBLE_EQ(item->previousItemMixPointFromInPoint(), c.aEnd);
    EXPECT_DOUBLE_EQ(item->nextItemMixPointFromInPoint(), c.bStart);
    EXPECT_EQ(item->shouldPremultiplyByAlpha(), c.premultiplies);
  }
}

TEST_F(TransitionItemFactoryTest, MovieItemPlaysTheTransitionFileWhateverSettingsItIsGiven) {
  const auto item = std::dynamic_pointer_cast<CVNMovieTransitionQueuePlayerItem>(make(kAlphaMovie));
  ASSERT_NE(item, nullptr);
  ASSERT_NE(session_, nullptr);
  EXPECT_EQ(item->transitionType(), TransitionType::AlphaMovie);
  EXPECT_EQ(item->URL()->path(), "/media/transitions/burst.mov");
  EXPECT_EQ(item->displayName(), "Burst");
  EXPECT_EQ(item->outputBufferFormat(), k2vuy);
  EXPECT_TRUE(boolForKey(item->itemDictionary(), "itemAllowSmartResize").value_or(false));

  // The player's own settings (end behaviour, another file) do not reach the movie.
  const auto second = CVNMovieTransitionQueuePlayerItem::create(item->transition(), item_fakes::scriptedFactory({}, &session_));
  second->setDelegate(&delegate_);
  second->setOutputDisplayMode(mode_);
  delegate_.runOnQueue([&] {
    second->applySettingsFromDictionary({{"itemEndBehaviour", Value(2)}, {"itemURL", Value("/media/other.mov")}});
  });
  EXPECT_EQ(second->endBehaviour(), 0);
  EXPECT_EQ(second->URL()->path(), "/media/transitions/burst.mov");
  EXPECT_FALSE(second->itemDictionary().contains("itemEndBehaviour"));
}

TEST_F(TransitionItemFactoryTest, ATransitionThatCannotBeReadIsLoggedAndGivesNoItem) {
  EXPECT_EQ(make(without(kShader, "ShaderAnimationType")), nullptr);
  EXPECT_EQ(make(without(kAlphaMovie, "ShouldPremultiplyByAlpha")), nullptr);
  EXPECT_EQ(log_.linesWith("ShaderAnimationType"), 1u);
  EXPECT_EQ(log_.linesWith("ShouldPremultiplyByAlpha"), 1u);
}

}  // namespace
}  // namespace engine::items
