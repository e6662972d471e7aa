#include "engine/transitions/CVNLayerTransition.h"

namespace engine {

namespace {

std::shared_ptr<CVNLayerTransition> makeLayerTransition(const char* uniqueID, const char* name,
                                                        LayerTransitionType transitionType, int option) {
  auto transition = std::make_shared<CVNLayerTransition>();
  transition->setUniqueID(uniqueID);
  transition->setName(name);
  transition->setTransitionType(transitionType);
  transition->setOption(option);
  return transition;
}

}  // namespace

CVNLayerTransition::CVNLayerTransition() { setType(TransitionType::Layer); }

std::shared_ptr<CVNLayerTransition> CVNLayerTransition::initWithDictionary(const platform::Dictionary& dictionary,
                                                                           std::string* error) {
  return makeFromDictionary<CVNLayerTransition>(dictionary, error);
}

void CVNLayerTransition::readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing) {
  CVNTransition::readDictionary(dictionary, missing);
  const platform::Value entries(dictionary);
  const LayerTransitionType transitionType = transitionTypeWithTransitionUniqueID(entries["uniqueID"].stringOr(""));
  std::lock_guard lock(mutex_);
  transitionType_ = transitionType;
  if (transitionType == LayerTransitionType::None) return;
  if (const std::string* option = entries["option"].string()) option_ = CVNBasicAnimation::optionFromString(*option);
}

platform::Dictionary CVNLayerTransition::dictionaryRepresentation() const {
  platform::Dictionary dictionary = CVNTransition::dictionaryRepresentation();
  if (transitionType() == LayerTransitionType::None) return dictionary;
  if (auto key = CVNBasicAnimation::keyFromAnimationOption(option())) dictionary["option"] = platform::Value(*key);
  return dictionary;
}

std::shared_ptr<CVNTransition> CVNLayerTransition::copy() const {
  return initWithDictionary(dictionaryRepresentation(), nullptr);
}

CVNBasicAnimation CVNLayerTransition::itemABasicAnimation() const { return basicAnimation(true); }

CVNBasicAnimation CVNLayerTransition::itemBBasicAnimation() const { return basicAnimation(false); }

CVNBasicAnimation CVNLayerTransition::basicAnimation(bool forItemA) const {
  CVNBasicAnimation animation;
  animation.setDuration(duration());
  animation.setTimingFunction(0);
  switch (transitionType()) {
    case LayerTransitionType::CrossFade:
      animation.setType(BasicAnimationType::Fade);
      animation.setDuration(duration() / 2);
      break;
    case LayerTransitionType::Push:
    case LayerTransitionType::Reveal:
      animation.setType(BasicAnimationType::Push);
      animation.setOption(forItemA ? option() : invertedOption(option()));
      break;
    case LayerTransitionType::FadeOutFadeIn:
      animation.setType(BasicAnimationType::Fade);
      break;
    default:
      animation.setType(BasicAnimationType::None);
      break;
  }
  return animation;
}

int CVNLayerTransition::invertedOption(int option) {
  int inverted = option & (kAnimationOptionMiddle | kAnimationOptionCenter);
  if (option & kAnimationOptionTop) inverted |= kAnimationOptionBottom;
  if (option & kAnimationOptionBottom) inverted |= kAnimationOptionTop;
  if (option & kAnimationOptionLeft) inverted |= kAnimationOptionRight;
  if (option & kAnimationOptionRight) inverted |= kAnimationOptionLeft;
  return inverted;
}

LayerTransitionType CVNLayerTransition::transitionTypeWithTransitionUniqueID(std::string_view uniqueID) {
  if (uniqueID == "CrossFade") return LayerTransitionType::CrossFade;
  if (uniqueID == "Push") return LayerTransitionType::Push;
  if (uniqueID == "FadeOutFadeIn") return LayerTransitionType::FadeOutFadeIn;
  if (uniqueID == "Cover") return LayerTransitionType::Cover;
  if (uniqueID == "Reveal") return LayerTransitionType::Reveal;
  return LayerTransitionType::None;
}

std::shared_ptr<CVNLayerTransition> CVNLayerTransition::crossFadeTransition() {
  return makeLayerTransition("CrossFade", "Cross Fade", LayerTransitionType::CrossFade, 0);
}

std::shared_ptr<CVNLayerTransition> CVNLayerTransition::pushLayerTransition() {
  return makeLayerTransition("Push", "Push", LayerTransitionType::Push, kAnimationOptionLeft);
}

std::shared_ptr<CVNLayerTransition> CVNLayerTransition::fadeOutFadeInTransition() {
  auto transition = makeLayerTransition("FadeOutFadeIn", "Fade Out Fade In", LayerTransitionType::FadeOutFadeIn, 0);
  transition->setItemAEndOffset(transition->duration() / 2);
  transition->setItemBStartOffset(transition->duration() / 2);
  return transition;
}

std::shared_ptr<CVNLayerTransition> CVNLayerTransition::coverTransition() {
  return makeLayerTransition("Cover", "Cover", LayerTransitionType::Cover, kAnimationOptionRight);
}

std::shared_ptr<CVNLayerTransition> CVNLayerTransition::revealTransition() {
  return makeLayerTransition("Reveal", "Reveal", LayerTransitionType::Reveal, kAnimationOptionRight);
}

const std::vector<std::shared_ptr<CVNLayerTransition>>& CVNLayerTransition::availableTransitions() {
  static const std::vector<std::shared_ptr<CVNLayerTransition>> kTransitions{
      crossFadeTransition(), pushLayerTransition(), fadeOutFadeInTransition(), coverTransition(), revealTransition()};
  return kTransitions;
}

std::vector<int> CVNLayerTransition::availableOptionsForTransitionType(LayerTransitionType transitionType) {
  if (transitionType == LayerTransitionType::CrossFade || transitionType == LayerTransitionType::FadeOutFadeIn) {
    return {0};
  }
  return {0, 1, 4, 8, 9, 10, 12, 17, 18, 20, 32, 33, 34, 36};
}

LayerTransitionType CVNLayerTransition::transitionType() const { return getField(transitionType_); }
void CVNLayerTransition::setTransitionType(LayerTransitionType transitionType) {
  setField("transitionType", transitionType_, transitionType);
}
int CVNLayerTransition::option() const { return getField(option_); }
void CVNLayerTransition::setOption(int option) { setField("option", option_, option); }

}  // namespace engine
