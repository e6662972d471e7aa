#pragma once
// The server's end of one receiver's port: a SEQPACKET connection to the
// socket the receiver listens on. Frames go out without blocking; each
// carries the descriptor of its picture the first time that picture goes to
// this receiver. A receiver holds at most kMaxUnansweredFrames frames; later
// frames skip it (and are counted) until it answers. A frame's picture is
// held until its answer or for kAnswerLimit, whichever comes first; an
// expired frame still occupies its place until answered, so a silent
// receiver never gets more than its share.
//
// Lives on: the output's sending queue (every member). Owned by the output.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/FileDescriptor.h"
#include "platform/media/PixelBuffer.h"

namespace engine::vudododuva {

class ReceiverPort {
 public:
  enum class SendResult { Sent = 1, Skipped = 2, Gone = 3, Failed = 4 };

  // Connects to "<name>.sock" in `folder`; the name must be valid.
  static platform::Result<std::unique_ptr<ReceiverPort>> connect(const std::string& name,
                                                                 const std::filesystem::path& folder);
  ReceiverPort(const ReceiverPort&) = delete;
  ReceiverPort& operator=(const ReceiverPort&) = delete;

  const std::string& name() const { return name_; }
  int descriptor() const { return socket_.get(); }

  // Sends `message` for the frame showing `picture` (whose surface must
  // exist). Failed leaves the errno in `*error`.
  SendResult send(const std::string& message, const std::shared_ptr<platform::media::PixelBuffer>& picture,
                  platform::Clock::TimePoint now, int* error);
  // Takes the answers waiting. False when the receiver is gone or sent
  // anything but one-byte answers to frames it holds.
  bool readAnswers();
  // Lets go of the pictures of frames sent at or before `sentBy`.
  void releasePicturesSentBy(platform::Clock::TimePoint sentBy);

  std::size_t unansweredFrames() const { return unanswered_.size(); }
  std::size_t heldPictures() const;
  std::uint64_t skippedFrames() const { return skippedFrames_; }
  std::uint64_t answeredFrames() const { return answeredFrames_; }

 private:
  struct Unanswered {
    std::shared_ptr<platform::media::PixelBuffer> picture;  // nullptr once expired
    platform::Clock::TimePoint sentAt;
  };

  ReceiverPort(std::string name, int socket) : name_(std::move(name)), socket_(socket) {}

  std::string name_;
  platform::FileDescriptor socket_;
  std::deque<Unanswered> unanswered_;
  std::set<std::uint32_t> surfacesSent_;
  std::uint64_t skippedFrames_ = 0;
  std::uint64_t answeredFrames_ = 0;
};

}  // namespace engine::vudododuva
