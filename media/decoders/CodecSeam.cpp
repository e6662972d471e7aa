#include "media/decoders/CodecSeam.h"

#include "media/decoders/CVNMutex.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace media {
namespace {

class LibavcodecSeam final : public CodecSeam {
 public:
  explicit LibavcodecSeam(AVCodecContext* context) : context_(context) {}
  ~LibavcodecSeam() override {
    if (!opened_) return;
    CVNMutexHold hold(CVNMutex::sharedMutex());
    avcodec_close(context_);
  }

  int open() override {
    if (!context_) return AVERROR(EINVAL);
    const AVCodec* codec = avcodec_find_decoder(context_->codec_id);
    if (!codec) return AVERROR_DECODER_NOT_FOUND;
    // No low-delay flag: it would turn frame threads off, and software
    // decoding needs them.
    context_->thread_count = 0;
    if (context_->codec_id == AV_CODEC_ID_DNXHD || context_->codec_id == AV_CODEC_ID_FFV1) {
      context_->thread_type = FF_THREAD_SLICE;
    }
    CVNMutexHold hold(CVNMutex::sharedMutex());
    const int result = avcodec_open2(context_, codec, nullptr);
    opened_ = result >= 0;
    return result;
  }

  int sendPacket(const AVPacket* packet) override {
    return avcodec_send_packet(context_, packet && packet->size > 0 ? packet : nullptr);
  }
  int receiveFrame(AVFrame* frame) override { return avcodec_receive_frame(context_, frame); }
  void flushBuffers() override {
    if (opened_) avcodec_flush_buffers(context_);
  }
  int threadCount() const override { return opened_ ? context_->thread_count : 0; }
  bool errorsComeLate() const override {
    return opened_ && (context_->active_thread_type & FF_THREAD_FRAME) && context_->thread_count > 1;
  }

 private:
  AVCodecContext* context_;
  bool opened_ = false;
};

}  // namespace

std::unique_ptr<CodecSeam> makeLibavcodecSeam(AVCodecContext* context) {
  return std::make_unique<LibavcodecSeam>(context);
}

}  // namespace media
