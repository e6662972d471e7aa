#pragma once
// The drawing context the graphics layer renders the output into. That layer
// is not built: this keeps what the engine sets, so the engine's side can be
// checked. Set on the engine's queues, read by the graphics layer later.

#include <string>

#include "foundation/geometry/Geometry.h"

namespace engine {

class CVNGraphicContext {
 public:
  explicit CVNGraphicContext(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  foundation::Size viewSize() const { return viewSize_; }
  void setViewSize(foundation::Size size) { viewSize_ = size; }
  foundation::Size outputSize() const { return outputSize_; }
  void setOutputSize(foundation::Size size) { outputSize_ = size; }
  double horizontalZoomValue() const { return horizontalZoomValue_; }
  void setHorizontalZoomValue(double zoom) { horizontalZoomValue_ = zoom; }
  bool transparent() const { return transparent_; }
  void setTransparent(bool transparent) { transparent_ = transparent; }
  bool shouldRenderTiledBackground() const { return shouldRenderTiledBackground_; }
  void setShouldRenderTiledBackground(bool tiled) { shouldRenderTiledBackground_ = tiled; }
  bool premultipliedAlpha() const { return premultipliedAlpha_; }
  void setPremultipliedAlpha(bool premultiplied) { premultipliedAlpha_ = premultiplied; }

 private:
  std::string name_;
  foundation::Size viewSize_{};
  foundation::Size outputSize_{};
  double horizontalZoomValue_ = 1.0;
  bool transparent_ = false;
  bool shouldRenderTiledBackground_ = true;
  bool premultipliedAlpha_ = true;
};

}  // namespace engine
