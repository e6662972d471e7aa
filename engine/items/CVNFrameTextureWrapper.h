#pragma once
// Ties a decoded picture to the textures made from its planes, so the
// textures live exactly as long as the frame being rendered. On the CPU path
// it holds only the picture.

#include <cstddef>
#include <memory>
#include <vector>

#include "engine/render/RenderHandles.h"
#include "platform/media/PixelBuffer.h"

namespace engine::items {

class CVNFrameTextureWrapper {
 public:
  explicit CVNFrameTextureWrapper(std::shared_ptr<platform::media::PixelBuffer> pixelBuffer)
      : pixelBuffer_(std::move(pixelBuffer)) {}

  // One pair per plane, in plane order; either may be empty.
  void addCVMetalTexture(render::CacheTextureRef cacheTexture, render::TextureRef texture);
  // Empty when `index` is not below textureCount().
  render::TextureRef textureForPlaneAtIndex(std::size_t index) const;
  std::size_t textureCount() const { return metalTextures_.size(); }
  bool containsCVMetalTexture() const { return containsCVMetalTexture_; }
  const std::shared_ptr<platform::media::PixelBuffer>& pixelBuffer() const { return pixelBuffer_; }

 private:
  std::shared_ptr<platform::media::PixelBuffer> pixelBuffer_;
  std::vector<render::CacheTextureRef> cvMetalTextures_;
  std::vector<render::TextureRef> metalTextures_;
  bool containsCVMetalTexture_ = false;
};

}  // namespace engine::items
