#pragma once
// Shared pieces of the decoder tests: a scripted codec and a recorder of
// completion handlers.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "media/decoders/CVNDecoderProtocol.h"
#include "media/decoders/CodecSeam.h"

namespace media::testing {

// A codec whose answers are scripted per packet sent: the send result and
// the presentation times of the frames that come out after it. The empty
// packet (end of stream) lets `drainFrames` out, then end of file.
class ScriptedCodec : public CodecSeam {
 public:
  struct Step {
    int sendResult = 0;
    std::vector<std::int64_t> framesOut;
  };
  explicit ScriptedCodec(std::deque<Step> steps, std::vector<std::int64_t> drainFrames = {}, int threads = 0)
      : steps_(std::move(steps)), drainFrames_(std::move(drainFrames)), threads_(threads) {}
  int open() override { return 0; }
  int sendPacket(const AVPacket* packet) override;
  int receiveFrame(AVFrame* frame) override;
  void flushBuffers() override { draining_ = false; }
  int threadCount() const override { return threads_; }
  bool errorsComeLate() const override { return errorsComeLate_; }
  void setErrorsComeLate(bool value) { errorsComeLate_ = value; }
  int sends() const { return sends_; }

 private:
  std::deque<Step> steps_;
  std::vector<std::int64_t> drainFrames_;
  std::deque<std::int64_t> ready_;
  int threads_;
  bool draining_ = false;
  bool errorsComeLate_ = false;
  int sends_ = 0;
};

// Records every handler call by the packet's number.
struct HandlerLog {
  struct Call {
    bool success = false;
    std::optional<std::string> error;
    std::optional<std::int64_t> framePts;  // none: no buffer
  };
  std::map<int, std::vector<Call>> calls;
  DecodeCompletionHandler handlerFor(int packet);
  std::size_t callsOf(int packet) const { return calls.count(packet) ? calls.at(packet).size() : 0; }
  const Call& only(int packet) const { return calls.at(packet).at(0); }
};

}  // namespace media::testing
