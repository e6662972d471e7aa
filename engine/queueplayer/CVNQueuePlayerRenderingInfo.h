#pragma once
// The per-frame result of the GPU pull: for the fade-out, current and fade-in
// item, the texture to draw and how. One object per player, rewritten every
// frame; the renderer reads it on the thread that pulled.

#include <array>
#include <cstdint>

#include "engine/render/RenderHandles.h"
#include "foundation/geometry/Geometry.h"

namespace engine::queueplayer {

struct CVNQueuePlayerRenderingInfo {
  struct Layer {
    render::TextureRef texture;  // none for a missing item or a black hold
    std::uint32_t texturePixelFormat = 0;
    foundation::Rect textureRect{};
    foundation::Rect itemRect{};
    bool shouldPremultiplyByAlpha = false;
    std::int32_t zOrder = 0;
  };
  enum LayerIndex { kFadeOut = 0, kCurrent = 1, kFadeIn = 2 };

  std::array<Layer, 3> layers{};
};

}  // namespace engine::queueplayer
