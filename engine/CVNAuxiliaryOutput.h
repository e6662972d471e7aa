#pragma once
// An output that is not a device but gets a copy of every finished frame.
// The engine calls it from its start and stop, and from the selected
// output's thread once per frame; the buffers are shared, the audio sample
// buffer may be null when none could be made.

#include <memory>

#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"
#include "pluginframework/CVNVideoOutput.h"

namespace engine {

class CVNEngineBase;

class CVNAuxiliaryOutput {
 public:
  virtual ~CVNAuxiliaryOutput() = default;
  virtual void engineWillStart(CVNEngineBase& engine) = 0;
  virtual void engineWillStop(CVNEngineBase& engine) = 0;
  virtual void engineWillSendPixelBuffer(CVNEngineBase& engine,
                                         const std::shared_ptr<platform::media::PixelBuffer>& pixelBuffer,
                                         const platform::media::SampleBufferRef& audioBuffer,
                                         const platform::media::SampleBufferRef& ccSampleBuffer,
                                         const platform::media::SampleBufferRef& timecodeSampleBuffer,
                                         const pluginframework::VANCPackets& additionalVANCPackets) = 0;
};

}  // namespace engine
