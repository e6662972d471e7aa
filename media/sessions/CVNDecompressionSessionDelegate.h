#pragma once
// What a session tells its client. Every call runs on the session's delegate
// queue, with the delegate kept alive for the call; the argument is the session.

namespace media {

class CVNSessionBase;

class CVNDecompressionSessionDelegate {
 public:
  virtual ~CVNDecompressionSessionDelegate() = default;

  // The source has been examined, valid or not.
  virtual void decompressionSessionDidInitialize(CVNSessionBase& session) = 0;
  virtual void decompressionSessionIsReadyForPlayback(CVNSessionBase& session) = 0;
  virtual void decompressionSessionDidReadAllFrames(CVNSessionBase& session) = 0;
  virtual void decompressionSessionDidDecompressAllFrames(CVNSessionBase& session) = 0;
  // Asked once when buffering starts; true swaps the decoder's field order.
  virtual bool shouldInverseFieldOrder() = 0;

  // Optional: a live input stopped delivering frames `seconds` ago.
  virtual void ziraSessionDidNotReceiveAnyFramesSince(CVNSessionBase& /*session*/, double /*seconds*/) {}
};

}  // namespace media
