#pragma once
// Thread: owner of one named OS thread. The body receives a stop token (and
// must not throw); destruction requests a stop and joins. Bodies make every wait bounded and
// react to the stop (a std::stop_callback can notify their condition variable),
// so the join is bounded too.
//
// Owned by one object (a queue, a connection); construct and destroy on any
// thread. Destroying a Thread from its own thread (a task that drops the last
// reference to its queue's owner) cannot join; the thread is then handed to a
// process-wide joiner that joins it once the body returns, and at exit at the
// latest. No thread is ever detached.

#include <functional>
#include <stop_token>
#include <string>
#include <thread>

namespace platform {

class Thread {
 public:
  using Body = std::function<void(std::stop_token)>;

  // The OS thread name is the label's last 15 characters (the kernel's limit),
  // which keep the distinguishing end of reverse-DNS labels.
  Thread(std::string label, Body body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  const std::string& label() const { return label_; }
  void requestStop() { thread_.request_stop(); }
  bool isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }

 private:
  std::string label_;
  std::jthread thread_;
};

}  // namespace platform
