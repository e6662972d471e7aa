#include "app/playlist/NodeAnswerWait.h"

#include <utility>

namespace app {

std::shared_ptr<NodeAnswerWait> NodeAnswerWait::start(std::size_t count, Completion completion,
                                                      platform::Clock::Duration timeLimit,
                                                      platform::DispatchQueue& queue) {
  std::shared_ptr<NodeAnswerWait> wait(new NodeAnswerWait(count, std::move(completion)));
  if (count == 0) {
    wait->finish();
    return wait;
  }
  std::weak_ptr<NodeAnswerWait> weak = wait;
  wait->limit_ = queue.after(timeLimit, [weak] {
    if (auto self = weak.lock()) self->finish();
  });
  return wait;
}

NodeAnswerWait::NodeAnswerWait(std::size_t count, Completion completion)
    : replies_(count), answered_(count, false), unanswered_(count), completion_(std::move(completion)) {}

NodeAnswerWait::~NodeAnswerWait() { limit_.cancel(); }

PlaylistNodeControl::AnswerHandler NodeAnswerWait::answerHandler(std::size_t index) {
  std::weak_ptr<NodeAnswerWait> weak = weak_from_this();
  return [weak, index](const std::string& reply) {
    if (auto self = weak.lock()) self->answer(index, reply);
  };
}

void NodeAnswerWait::cancel() {
  finished_ = true;
  completion_ = nullptr;
  limit_.cancel();
}

void NodeAnswerWait::answer(std::size_t index, const std::string& reply) {
  if (finished_ || index >= answered_.size() || answered_[index]) return;
  answered_[index] = true;
  // An empty reply means the node never answered; keep it apart from a text.
  if (!reply.empty()) replies_[index] = reply;
  if (--unanswered_ == 0) finish();
}

void NodeAnswerWait::finish() {
  if (finished_) return;
  finished_ = true;
  limit_.cancel();
  // The completion may drop the last owner of this object.
  auto keepAlive = weak_from_this().lock();
  auto completion = std::move(completion_);
  completion_ = nullptr;
  if (completion) completion(replies_);
}

}  // namespace app
