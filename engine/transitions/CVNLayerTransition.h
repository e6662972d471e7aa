#pragma once
// CVNLayerTransition: a transition that animates the two items' layers with
// basic animations (cross fade, push, fade out and in, cover, reveal). The
// five built-in ones come from the factories below. Thread safety as
// CVNTransition.

#include <memory>
#include <string_view>
#include <vector>

#include "engine/graphicsservices/CVNBasicAnimation.h"
#include "engine/transitions/CVNTransition.h"

namespace engine {

enum class LayerTransitionType : std::uint64_t { CrossFade = 0, Push = 1, FadeOutFadeIn = 2, Cover = 3, Reveal = 4, None = 5 };

class CVNLayerTransition : public CVNTransition {
 public:
  // Type layer, transition type none, option 0.
  CVNLayerTransition();

  // The base keys; the transition type comes from the unique ID and, unless it
  // is none, "option" (a key) gives the option. Nothing more is required.
  static std::shared_ptr<CVNLayerTransition> initWithDictionary(const platform::Dictionary& dictionary,
                                                                std::string* error);
  platform::Dictionary dictionaryRepresentation() const override;
  std::shared_ptr<CVNTransition> copy() const override;

  // New animations for the outgoing (A) and incoming (B) item.
  CVNBasicAnimation itemABasicAnimation() const;
  CVNBasicAnimation itemBBasicAnimation() const;

  // Top and bottom, left and right swapped; middle and center kept; bits from
  // 64 up dropped.
  static int invertedOption(int option);
  static LayerTransitionType transitionTypeWithTransitionUniqueID(std::string_view uniqueID);

  static std::shared_ptr<CVNLayerTransition> crossFadeTransition();
  static std::shared_ptr<CVNLayerTransition> pushLayerTransition();
  static std::shared_ptr<CVNLayerTransition> fadeOutFadeInTransition();
  static std::shared_ptr<CVNLayerTransition> coverTransition();
  static std::shared_ptr<CVNLayerTransition> revealTransition();
  // The five above, made once and kept.
  static const std::vector<std::shared_ptr<CVNLayerTransition>>& availableTransitions();
  static std::vector<int> availableOptionsForTransitionType(LayerTransitionType transitionType);

  LayerTransitionType transitionType() const;
  void setTransitionType(LayerTransitionType transitionType);
  int option() const;
  void setOption(int option);

 protected:
  void readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing) override;

 private:
  CVNBasicAnimation basicAnimation(bool forItemA) const;

  LayerTransitionType transitionType_ = LayerTransitionType::None;  // guarded by mutex_
  int option_ = 0;                                                  // guarded by mutex_
};

}  // namespace engine
