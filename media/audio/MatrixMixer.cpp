#include "media/audio/MatrixMixer.h"

#include <algorithm>
#include <numeric>

namespace media {

MatrixMixer::MatrixMixer(std::vector<std::uint32_t> busChannels, std::uint32_t outputChannels,
                         std::uint32_t maximumFrames)
    : busChannels_(std::move(busChannels)),
      inputChannels_(std::accumulate(busChannels_.begin(), busChannels_.end(), 0u)),
      outputChannels_(outputChannels),
      maximumFrames_(maximumFrames),
      levels_((inputChannels_ + 1) * (outputChannels + 1), 0.0f),
      gains_(inputChannels_ * outputChannels, 0.0f) {
  const std::uint32_t widest = busChannels_.empty() ? 0 : *std::max_element(busChannels_.begin(), busChannels_.end());
  busBuffers_.buffers.reserve(widest);
}

bool MatrixMixer::setLevels(std::vector<float> levels) {
  if (levels.size() != levels_.size()) return false;
  levels_ = std::move(levels);
  return true;
}

void MatrixMixer::render(std::uint32_t frames, const PullBus& pull, float* const* output) {
  frames = std::min(frames, maximumFrames_);
  const std::uint32_t columns = outputChannels_ + 1;
  const float global = levels_[inputChannels_ * columns + outputChannels_];
  for (std::uint32_t r = 0; r < inputChannels_; ++r) {
    const float inputMaster = levels_[r * columns + outputChannels_];
    for (std::uint32_t c = 0; c < outputChannels_; ++c) {
      gains_[r * outputChannels_ + c] =
          levels_[r * columns + c] * inputMaster * levels_[inputChannels_ * columns + c] * global;
    }
  }
  for (std::uint32_t c = 0; c < outputChannels_; ++c) std::fill(output[c], output[c] + frames, 0.0f);

  std::uint32_t row = 0;
  for (std::uint32_t bus = 0; bus < busChannels_.size(); ++bus) {
    const std::uint32_t channels = busChannels_[bus];
    busBuffers_.buffers.assign(channels, platform::media::AudioBuffer{1, 0, nullptr});
    const bool delivered = pull(bus, frames, busBuffers_) == 0;
    for (std::uint32_t k = 0; delivered && k < channels && k < busBuffers_.buffers.size(); ++k) {
      const auto& buffer = busBuffers_.buffers[k];
      const std::uint32_t available = std::min<std::uint32_t>(frames, buffer.dataByteSize / sizeof(float));
      const float* in = static_cast<const float*>(buffer.data);
      if (!in) continue;
      for (std::uint32_t c = 0; c < outputChannels_; ++c) {
        const float gain = gains_[(row + k) * outputChannels_ + c];
        if (gain == 0.0f) continue;
        float* out = output[c];
        for (std::uint32_t i = 0; i < available; ++i) out[i] += gain * in[i];
      }
    }
    row += channels;
  }
}

}  // namespace media
