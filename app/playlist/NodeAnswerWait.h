#pragma once
// NodeAnswerWait: waits for the replies to a few node commands sent together
// (unlocking nodes A and B, switching redundant mode) and then runs its
// completion once, with each reply, as soon as the last one has arrived, or
// when the time limit passes on Clock::current() with what came until then
// (none for a command still unanswered). A busy node that answers late is
// thus read when it answers, and a silent one never blocks the window.
//
// Shared: the window keeps it while it waits and each answer handler holds it
// weakly. Main thread only: answers and the time limit arrive on the main
// queue. cancel() (or dropping the last owner) means the completion never runs.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/playlist/PlaylistNodeControl.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace app {

// A node answers a command within its connection's reply limit (10 s) once
// the command is sent; the margin covers the commands queued before it.
inline constexpr std::chrono::seconds kNodeAnswerTimeLimit{15};

class NodeAnswerWait : public std::enable_shared_from_this<NodeAnswerWait> {
 public:
  // One entry per command, in the order the handlers were handed out.
  using Replies = std::vector<std::optional<std::string>>;
  using Completion = std::function<void(const Replies& replies)>;

  // Waits for `count` answers; the limit starts now.
  static std::shared_ptr<NodeAnswerWait> start(std::size_t count, Completion completion,
                                               platform::Clock::Duration timeLimit = kNodeAnswerTimeLimit,
                                               platform::DispatchQueue& queue = platform::DispatchQueue::main());
  ~NodeAnswerWait();
  NodeAnswerWait(const NodeAnswerWait&) = delete;
  NodeAnswerWait& operator=(const NodeAnswerWait&) = delete;

  // The handler that records answer `index`; later answers to a finished
  // wait are ignored.
  PlaylistNodeControl::AnswerHandler answerHandler(std::size_t index);
  void cancel();
  bool isFinished() const { return finished_; }

 private:
  NodeAnswerWait(std::size_t count, Completion completion);
  void answer(std::size_t index, const std::string& reply);
  void finish();

  Replies replies_;
  std::vector<bool> answered_;
  std::size_t unanswered_;
  Completion completion_;
  platform::TaskHandle limit_;
  bool finished_ = false;
};

}  // namespace app
