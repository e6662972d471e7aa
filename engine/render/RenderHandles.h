#pragma once
// Opaque handles of the render abstraction. The GPU path gives them a body;
// the CPU path only passes them around (always empty), so the items build and
// run without a graphics device.

#include <memory>

namespace engine::render {

// A texture a shader samples or renders into.
class Texture {
 public:
  virtual ~Texture() = default;
};

// A texture-cache object that keeps a texture made over a shared picture valid.
class CacheTexture {
 public:
  virtual ~CacheTexture() = default;
};

// The graphics device and one frame's command buffer.
class Device {
 public:
  virtual ~Device() = default;
};

class CommandBuffer {
 public:
  virtual ~CommandBuffer() = default;
};

using TextureRef = std::shared_ptr<Texture>;
using CacheTextureRef = std::shared_ptr<CacheTexture>;

}  // namespace engine::render
