#pragma once
// Reactor: the process's one readiness thread (epoll, woken through an
// eventfd), alive until the process ends. A source watches one descriptor for
// reading or for writing and delivers each readiness as a task on the queue it
// was made for; it stands in for the desktop's read and write dispatch sources.
//
// - A source starts suspended; resume() arms it, suspend() disarms it
//   (EPOLL_CTL_MOD). While one event task of a source is queued or running, the
//   source is not re-armed, so a busy queue never collects a pile of events.
// - A read event carries the bytes ready on the descriptor (FIONREAD; 0 at end
//   of stream, and for descriptors that cannot say, such as listeners). An
//   event whose bytes were read before its task ran is dropped, not reported
//   as an end of stream.
// - cancel() disarms the source at once; its cancel handler then runs on the
//   source's queue after every event task already queued; called on that
//   queue, no event handler runs after cancel() returned. The descriptor itself is never closed here:
//   closing it is its owner's job (usually in the cancel handler).
//
// Sources are shared handles; every member is safe from any thread. A read and
// a write source may watch the same descriptor.

#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

class DispatchQueue;

class IoSource {
 public:
  enum class Kind { Read = 1, Write = 2 };
  using EventHandler = std::function<void(std::size_t bytesAvailable)>;
  using CancelHandler = std::function<void()>;

  // The queue must outlive the source's pending tasks (hold it in the handlers
  // if in doubt). Fails (nullptr) only when the descriptor cannot be watched.
  static std::shared_ptr<IoSource> create(int fd, Kind kind, std::shared_ptr<DispatchQueue> queue,
                                          EventHandler onEvent, CancelHandler onCancel);
  ~IoSource();
  IoSource(const IoSource&) = delete;
  IoSource& operator=(const IoSource&) = delete;

  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const;
  int descriptor() const;
  Kind kind() const;

  struct State;

 private:
  explicit IoSource(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

}  // namespace platform
