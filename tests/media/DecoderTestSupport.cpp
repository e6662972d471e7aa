#include "tests/media/DecoderTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace media::testing {

int ScriptedCodec::sendPacket(const AVPacket* packet) {
  ++sends_;
  if (!packet || packet->size == 0) {
    if (draining_) return AVERROR_EOF;
    draining_ = true;
    ready_.insert(ready_.end(), drainFrames_.begin(), drainFrames_.end());
    drainFrames_.clear();
    return 0;
  }
  if (steps_.empty()) return 0;
  const Step step = steps_.front();
  steps_.pop_front();
  if (step.sendResult < 0) return step.sendResult;
  ready_.insert(ready_.end(), step.framesOut.begin(), step.framesOut.end());
  return 0;
}

int ScriptedCodec::receiveFrame(AVFrame* frame) {
  if (ready_.empty()) return draining_ ? AVERROR_EOF : AVERROR(EAGAIN);
  frame->width = 16;
  frame->height = 16;
  frame->format = AV_PIX_FMT_YUV422P;
  if (av_frame_get_buffer(frame, 0) < 0) return AVERROR(ENOMEM);
  for (int plane = 0; plane < 3; ++plane) {
    for (int row = 0; row < 16; ++row) std::fill_n(frame->data[plane] + row * frame->linesize[plane], plane ? 8 : 16, 128);
  }
  frame->pts = frame->best_effort_timestamp = ready_.front();
  frame->pkt_duration = 1;
  ready_.pop_front();
  return 0;
}

DecodeCompletionHandler HandlerLog::handlerFor(int packet) {
  return [this, packet](bool success, const std::optional<std::string>& error, const platform::media::SampleBufferRef& buffer) {
    Call call{success, error, std::nullopt};
    if (buffer) call.framePts = buffer->presentationTimeStamp().value;
    calls[packet].push_back(call);
  };
}

}  // namespace media::testing
