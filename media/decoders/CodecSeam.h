#pragma once
// The few libavcodec calls a decoder makes on its codec context, behind one
// small interface so a scripted codec can stand in for a real one (frames
// that come late, sends that fail). The real one opens and closes the codec
// under the shared codec lock.
//
// Used from one queue at a time, like the decoder that owns it.

#include <memory>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace media {

class CodecSeam {
 public:
  virtual ~CodecSeam() = default;
  // libavcodec results: 0, or a negative error code.
  virtual int open() = 0;
  // An empty packet (no data) asks for every frame still inside.
  virtual int sendPacket(const AVPacket* packet) = 0;
  virtual int receiveFrame(AVFrame* frame) = 0;
  virtual void flushBuffers() = 0;
  // Threads the codec decodes with (0 before open).
  virtual int threadCount() const = 0;
  // Whether a decoding error surfaces during a later call than its packet's
  // (frame threads): the packet sent with it was taken all the same, and the
  // error belongs to the oldest packet still inside.
  virtual bool errorsComeLate() const = 0;
};

// Over a codec context owned by someone else; close() on destruction when
// opened. Frame threads with an automatic count; slice threads for DNxHD and
// FFV1.
std::unique_ptr<CodecSeam> makeLibavcodecSeam(AVCodecContext* context);

}  // namespace media
