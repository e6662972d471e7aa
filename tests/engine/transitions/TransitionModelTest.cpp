#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <typeinfo>

#include "engine/transitions/CVNLayerTransition.h"
#include "engine/transitions/CVNMovieTransition.h"
#include "engine/transitions/CVNShaderTransition.h"
#include "platform/media/PixelBuffer.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/TemporaryDirectory.h"

namespace engine {
namespace {

using platform::Dictionary;
using platform::Value;

Dictionary layerDictionary(const char* uniqueID = "Push") {
  return {{"uniqueID", Value(uniqueID)},  {"displayName", Value("Push")},   {"transitionType", Value("layer")},
          {"duration", Value(1.0)},       {"itemAEndOffset", Value(1.0)}, {"itemBStartOffset", Value(0.0)},
          {"option", Value("topRight")}};
}

Dictionary without(Dictionary dictionary, std::initializer_list<const char*> keys) {
  for (const char* key : keys) dictionary.erase(key);
  return dictionary;
}

Dictionary with(Dictionary dictionary, const Dictionary& extra) {
  for (const auto& [key, value] : extra) dictionary[key] = value;
  return dictionary;
}

struct DictionaryCase {
  const char* what;
  Dictionary dictionary;
  std::string error;  // empty: read
  double itemAEndOffset = 0;
};

TEST(TransitionDictionaryTest, ReadsOffsetsAndNamesEveryMissingKey) {
  const Dictionary base = layerDictionary();
  const DictionaryCase cases[] = {
      {"only a type", {{"transitionType", Value("layer")}},
       "Some required values are missing for keys: uniqueID,displayName,duration,itemAEndOffset,itemBStartOffset"},
      {"no duration", without(base, {"duration"}), "Value for key: duration is missing or invalid"},
      {"unknown type", with(base, {{"transitionType", Value("wipe")}}),
       "Value for key: transitionType is missing or invalid"},
      {"duration of the wrong kind", with(base, {{"duration", Value("1.0")}}),
       "Value for key: duration is missing or invalid"},
      {"frames at 25 fps",
       with(without(base, {"itemAEndOffset"}), {{"itemAEndFrameOffset", Value(25)}, {"movieFrameRate", Value(25)}}),
       "", 1.0},
      {"frames at 1 fps",
       with(without(base, {"itemAEndOffset"}), {{"itemAEndFrameOffset", Value(25)}, {"movieFrameRate", Value(1)}}),
       "Value for key: itemAEndOffset is missing or invalid"},
      {"frames of the wrong kind",
       with(without(base, {"itemAEndOffset"}),
            {{"itemAEndFrameOffset", Value("25")}, {"movieFrameRate", Value(25.0)}}),
       "Value for key: itemAEndFrameOffset is missing or invalid"},
      {"cut frame instead of offsets",
       with(without(base, {"itemAEndOffset", "itemBStartOffset"}), {{"CutFrameNumber", Value(12)}}), "", 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    auto transition = CVNLayerTransition::initWithDictionary(c.dictionary, &error);
    EXPECT_EQ(error, c.error);
    ASSERT_EQ(transition == nullptr, !c.error.empty());
    if (transition) EXPECT_DOUBLE_EQ(transition->itemAEndOffset(), c.itemAEndOffset);
  }
}

TEST(TransitionDictionaryTest, SubclassesAddTheirRequiredKeys) {
  Dictionary movie = with(layerDictionary("Burst"), {{"transitionType", Value("alphaMovie")}});
  std::string error;
  EXPECT_FALSE(CVNMovieTransition::initWithDictionary(movie, &error));
  EXPECT_EQ(error, "Some required values are missing for keys: TransitionFileURL,ShouldPremultiplyByAlpha");

  // A layer type is no movie; the path wins over the URL.
  movie = with(movie, {{"TransitionFileURL", Value("file:///url.mov")},
                       {"TransitionFilePath", Value("/path.mov")},
                       {"ShouldPremultiplyByAlpha", Value(true)}});
  EXPECT_FALSE(CVNMovieTransition::initWithDictionary(with(movie, {{"transitionType", Value("layer")}}), &error));
  EXPECT_EQ(error, "Value for key: transitionType is missing or invalid");
  auto read = CVNMovieTransition::initWithDictionary(with(movie, {{"transitionType", Value("maskingMovie")}}), &error);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->movieFilePath(), "/path.mov");
  EXPECT_TRUE(read->isMaskingMovie());
  EXPECT_TRUE(read->shouldPremultiplyByAlpha());

  Dictionary shader = with(layerDictionary("Wipe"), {{"transitionType", Value("shader")},
                                                     {"ShaderAnimationType", Value("NoSuchWipe")}});
  EXPECT_FALSE(CVNShaderTransition::initWithDictionary(shader, &error));
  EXPECT_EQ(error, "Some required values are missing for keys: ShaderAnimationType,ShaderAnimationOption");
}

// Copies go through the dictionary form, so whatever it forgets a copy loses.
TEST(TransitionDictionaryTest, CopiesAndRoundTripsKeepEveryClassAndField) {
  testing_support::CapturedDiagnostics diagnostics;  // the catalogue logs its IDs when first made
  auto push = CVNLayerTransition::pushLayerTransition();
  auto movie = CVNMovieTransition::initWithDictionary(
      with(layerDictionary("Burst"), {{"transitionType", Value("maskingMovie")},
                                      {"TransitionFilePath", Value("/movies/burst.mov")},
                                      {"ShouldPremultiplyByAlpha", Value(true)},
                                      {"userTransition", Value(true)},
                                      {"thumbnail", Value(platform::Data{1, 2, 3})}}),
      nullptr);
  auto shader = CVNShaderTransition::availableTransitions().at(5);
  const std::shared_ptr<CVNTransition> originals[] = {push, CVNLayerTransition::fadeOutFadeInTransition(), movie,
                                                      shader};
  for (const auto& original : originals) {
    SCOPED_TRACE(original->uniqueID().value_or(""));
    auto copy = original->copy();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, original);
    EXPECT_EQ(typeid(*copy), typeid(*original));
    EXPECT_EQ(copy->dictionaryRepresentation(), original->dictionaryRepresentation());
  }
  auto pushCopy = std::dynamic_pointer_cast<CVNLayerTransition>(push->copy());
  EXPECT_EQ(pushCopy->transitionType(), LayerTransitionType::Push);
  EXPECT_EQ(pushCopy->option(), kAnimationOptionLeft);
  EXPECT_EQ(movie->copy()->thumbnailAsData(), (platform::Data{1, 2, 3}));
  EXPECT_EQ(push->dictionaryRepresentation()["option"], Value("left"));
}

TEST(TransitionXMLTest, WritesAttributesAndReadsDefaults) {
  pugi::xml_document document;
  auto transition = CVNLayerTransition::crossFadeTransition();
  transition->setName(std::string("Cross\x01 Fade"));
  pugi::xml_node element = transition->XMLElement(document);
  EXPECT_STREQ(element.name(), "transition");
  EXPECT_STREQ(element.attribute("displayName").value(), "Cross Fade");
  EXPECT_STREQ(element.attribute("transitionType").value(), "layer");
  EXPECT_STREQ(element.attribute("duration").value(), "1.000000");
  EXPECT_STREQ(element.attribute("itemAEndOffset").value(), "1.000000");
  EXPECT_STREQ(element.attribute("userTransition").value(), "false");

  ASSERT_TRUE(document.load_string(R"(<transition uniqueID="X" transitionType="shader" duration="2.5"
                                      itemBStartOffset="0.25" userTransition="true"/>)"));
  auto read = CVNTransition::initWithXMLElement(document.child("transition"));
  EXPECT_EQ(read->uniqueID(), "X");
  EXPECT_EQ(read->type(), TransitionType::Shader);
  EXPECT_DOUBLE_EQ(read->itemAEndOffset(), 2.5);
  EXPECT_DOUBLE_EQ(read->itemBStartOffset(), 0.25);
  EXPECT_FALSE(read->isUserTransition());
  EXPECT_FALSE(read->name());
}

TEST(TransitionTimingTest, ScalesOffsetsWithTheDuration) {
  struct Case {
    double from, to;
    bool update;
    double aEnd, bStart;
  } const cases[] = {
      {1.0, 2.0, true, 2.0, 0.0},
      {1.0, 0.5, true, 0.5, 0.0},
      {1.0, 2.0, false, 1.0, 0.0},
      {0.0, 2.0, true, 1.0, 0.0},  // no ratio from 0: the offsets stay
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
    CVNTransition transition(std::string("T"), std::string("T"), TransitionType::Layer, c.from, 1.0, 0.0);
    transition.setDuration(c.to, c.update);
    EXPECT_DOUBLE_EQ(transition.duration(), c.to);
    EXPECT_DOUBLE_EQ(transition.itemAEndOffset(), c.aEnd);
    EXPECT_DOUBLE_EQ(transition.itemBStartOffset(), c.bStart);
  }
}

TEST(LayerTransitionTest, InvertsOptionsAndBuildsTheAnimationsOfEachType) {
  const std::pair<int, int> inversions[] = {{1, 4}, {8, 32}, {9, 36}, {17, 20}, {10, 34}, {5, 5}, {40, 40}, {64, 0}, {66, 2}};
  for (auto [option, inverted] : inversions) EXPECT_EQ(CVNLayerTransition::invertedOption(option), inverted) << option;

  struct Case {
    std::shared_ptr<CVNLayerTransition> transition;
    BasicAnimationType type;
    int optionA, optionB;
    double duration;
  } const cases[] = {
      {CVNLayerTransition::crossFadeTransition(), BasicAnimationType::Fade, 0, 0, 1.0},
      {CVNLayerTransition::pushLayerTransition(), BasicAnimationType::Push, 8, 32, 2.0},
      {CVNLayerTransition::revealTransition(), BasicAnimationType::Push, 32, 8, 2.0},
      {CVNLayerTransition::fadeOutFadeInTransition(), BasicAnimationType::Fade, 0, 0, 2.0},
      {CVNLayerTransition::coverTransition(), BasicAnimationType::None, 0, 0, 2.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.transition->uniqueID().value_or(""));
    c.transition->setDuration(2.0);
    const CVNBasicAnimation a = c.transition->itemABasicAnimation(), b = c.transition->itemBBasicAnimation();
    EXPECT_EQ(a.type(), c.type);
    EXPECT_EQ(b.type(), c.type);
    EXPECT_EQ(a.option(), c.optionA);
    EXPECT_EQ(b.option(), c.optionB);
    EXPECT_DOUBLE_EQ(a.duration(), c.duration);
  }
  EXPECT_EQ(CVNLayerTransition::availableOptionsForTransitionType(LayerTransitionType::FadeOutFadeIn),
            std::vector<int>{0});
  EXPECT_EQ(CVNLayerTransition::availableOptionsForTransitionType(LayerTransitionType::Cover).size(), 14u);
}

TEST(ShaderTransitionTest, CatalogueHoldsEachTypeWithEachOption) {
  testing_support::CapturedDiagnostics diagnostics;
  const auto& catalogue = CVNShaderTransition::availableTransitions();
  ASSERT_EQ(catalogue.size(), 37u);
  std::set<std::string> uniqueIDs;
  for (const auto& transition : catalogue) uniqueIDs.insert(transition->uniqueID().value_or(""));
  EXPECT_EQ(uniqueIDs.size(), 37u);
  EXPECT_EQ(catalogue.front()->uniqueID(), "WipeCornersInFourBoxes_none");
  EXPECT_EQ(catalogue.front()->name(), "WipeCornersInFourBoxes None");
  EXPECT_EQ(catalogue[4]->uniqueID(), "WipeSingleBox_middleLeft");
  EXPECT_EQ(catalogue[4]->name(), "WipeSingleBox Middle Left");
  EXPECT_EQ(catalogue.back()->uniqueID(), "FadeInFadeOut_none");

  EXPECT_EQ(CVNShaderTransition::shaderAnimationTypeFromString("WipeCircle"), 8);
  EXPECT_EQ(CVNShaderTransition::shaderAnimationTypeFromString("Wipe"), -1);
  EXPECT_EQ(CVNShaderTransition::stringFromShaderAnimationType(12), "Missing Name (12)");
  EXPECT_TRUE(CVNShaderTransition::availableOptionsForTransitionType(12).empty());
  EXPECT_EQ(CVNTransition::stringFromTransitionType(7), "unknown");
  EXPECT_EQ(diagnostics.count("Missing implementation for stringFromTransitionType: 7"), 1u);
  EXPECT_EQ(CVNTransition::transitionTypeFromString("Layer"), TransitionType::Unknown);
}

TEST(MovieTransitionTest, MissingFileMarksItOffline) {
  testing_support::TemporaryDirectory folder;
  CVNMovieTransition transition;
  transition.checkForMissingClip();  // no URL: nothing changes
  EXPECT_TRUE(transition.online());

  const auto path = folder / "burst.mov";
  transition.setURL(media::MediaURL::fileURLWithPath(path));
  transition.checkForMissingClip();
  EXPECT_FALSE(transition.online());
  EXPECT_EQ(transition.warning(), "Transition file does not exist at: '" + path.string() + "'");

  std::ofstream(path) << "movie";
  transition.checkForMissingClip();
  EXPECT_TRUE(transition.online());
  EXPECT_FALSE(transition.warning());
}

TEST(TransitionThumbnailTest, StoresImagesAsJpegThatDecodesBack) {
  std::shared_ptr<platform::media::PixelBuffer> image;
  ASSERT_EQ(platform::media::PixelBuffer::create(16, 8, platform::media::kPixelFormat32RGBA, {}, &image),
            platform::media::kCVReturnSuccess);
  CVNTransition transition;
  std::vector<Value> changes;
  auto token = transition.observeKey("thumbnail", [&](const Value&, const Value& now) { changes.push_back(now); });
  transition.setCGImageRef(image);
  auto data = transition.thumbnailAsData();
  ASSERT_TRUE(data);
  ASSERT_GT(data->size(), 2u);
  EXPECT_EQ((*data)[0], 0xFF);
  EXPECT_EQ((*data)[1], 0xD8);
  ASSERT_TRUE(transition.thumbnail());
  EXPECT_EQ(transition.thumbnail()->width(), 16u);
  EXPECT_EQ(changes.size(), 1u);

  transition.setThumbnailFromBase64String("not base64 !");  // refused: nothing changes
  EXPECT_EQ(transition.thumbnailAsData(), data);
}

}  // namespace
}  // namespace engine
