#pragma once
// The engine's matrix mixer: input buses of float planes in, output float
// planes out, through a level matrix of (I+1) x (O+1) floats, row-major. Row
// r < I is input channel r (buses' channels one after the other), column
// c < O output channel c; column O holds the input-channel masters, row I the
// output-channel masters and the last cell the global master. Output c is
// the sum over r of in[r] x [r][c] x [r][O] x [I][c] x [I][O]. Buses are
// pulled through a callback that points the bus's buffers at memory it owns
// (no copy); a bus that delivers fewer frames than asked is silent for the
// rest. Memory is fixed at creation. Lives on its owner's thread.

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/media/AudioFormat.h"

namespace media {

class MatrixMixer {
 public:
  // Fills `list` (one buffer per channel of the bus, preset) for `frames` frames; non-zero: the bus is silent.
  using PullBus = std::function<std::int32_t(std::uint32_t bus, std::uint32_t frames,
                                             platform::media::AudioBufferList& list)>;

  MatrixMixer(std::vector<std::uint32_t> busChannels, std::uint32_t outputChannels, std::uint32_t maximumFrames);

  std::uint32_t inputChannelCount() const { return inputChannels_; }
  std::uint32_t outputChannelCount() const { return outputChannels_; }
  std::uint32_t maximumFramesPerSlice() const { return maximumFrames_; }
  const std::vector<float>& levels() const { return levels_; }
  // false when the size is not (I+1) x (O+1).
  bool setLevels(std::vector<float> levels);

  // Renders `frames` (at most maximumFramesPerSlice) into `output`, one plane per output channel.
  void render(std::uint32_t frames, const PullBus& pull, float* const* output);

 private:
  std::vector<std::uint32_t> busChannels_;
  std::uint32_t inputChannels_ = 0;
  std::uint32_t outputChannels_;
  std::uint32_t maximumFrames_;
  std::vector<float> levels_;
  std::vector<float> gains_;                     // I x O effective gains of one slice
  platform::media::AudioBufferList busBuffers_;  // reused for every pull
};

}  // namespace media
