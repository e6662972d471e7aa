#include "engine/items/CVNFrameTextureWrapper.h"

namespace engine::items {

void CVNFrameTextureWrapper::addCVMetalTexture(render::CacheTextureRef cacheTexture, render::TextureRef texture) {
  if (cacheTexture) {
    cvMetalTextures_.push_back(std::move(cacheTexture));
    containsCVMetalTexture_ = true;
  }
  if (texture) metalTextures_.push_back(std::move(texture));
}

render::TextureRef CVNFrameTextureWrapper::textureForPlaneAtIndex(std::size_t index) const {
  return index < metalTextures_.size() ? metalTextures_[index] : nullptr;
}

}  // namespace engine::items
