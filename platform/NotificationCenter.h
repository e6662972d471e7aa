#pragma once
// NotificationCenter: named notifications broadcast to observers within the
// process ("playbackStatusDidChange" and the like). defaultCenter() is the
// process-wide instance; tests construct their own.
//
// Safe from any thread. Guarantees:
// - post() delivers synchronously on the posting thread, in registration
//   order, to the observers registered when the post began. An observer may
//   add or remove observers (itself included) from its callback; one removed
//   during a post is skipped if its turn has not come yet.
// - once removeObserver() (or the token's destruction) returns, the callback
//   is not running on any other thread and will not run again. Only a call on
//   the removing thread itself (self-removal from the callback) may still be
//   on the stack. Should the wait for another thread not end within
//   kRemovalWaitLimit on Clock::current() (two threads each removing the
//   observer the other is running), removal gives up and reports it.
// - an observer with a delivery queue gets each notification posted there
//   (asynchronously, in posting order for a serial queue); the removal
//   guarantee holds for those calls too.
// - a callback that throws is reported; delivery goes on.

#include <any>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Value.h"

namespace platform {

class DispatchQueue;

namespace detail {
class NotificationRegistry;
struct NotificationObserver;
}  // namespace detail

struct Notification {
  std::string name{};
  const void* sender = nullptr;  // identity only, never dereferenced; may be null
  std::any object{};             // e.g. a Value or a shared_ptr
  Dictionary userInfo{};
};

// RAII registration of one observer: destroying or reset()ting the token
// removes the observer (with removeObserver's guarantee). Move-only; may
// outlive its centre, and then does nothing.
class [[nodiscard]] ObserverToken {
 public:
  ObserverToken() = default;
  ~ObserverToken();
  ObserverToken(ObserverToken&& other) noexcept;
  ObserverToken& operator=(ObserverToken&& other) noexcept;
  ObserverToken(const ObserverToken&) = delete;
  ObserverToken& operator=(const ObserverToken&) = delete;

  void reset();
  bool isActive() const { return observer_ != nullptr; }

 private:
  friend class NotificationCenter;
  ObserverToken(std::weak_ptr<detail::NotificationRegistry> registry,
                std::shared_ptr<detail::NotificationObserver> observer);

  std::weak_ptr<detail::NotificationRegistry> registry_;
  std::shared_ptr<detail::NotificationObserver> observer_;
};

class NotificationCenter {
 public:
  using Callback = std::function<void(const Notification&)>;
  static constexpr std::chrono::seconds kRemovalWaitLimit{5};

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  static NotificationCenter& defaultCenter();

  // Observes notifications named `name` (empty: every name) from `sender`
  // (null: any sender). With a `queue` (not owned; must outlive the token),
  // each call is posted there instead of running on the posting thread.
  ObserverToken addObserver(std::string name, const void* sender, Callback callback, DispatchQueue* queue = nullptr);
  void removeObserver(ObserverToken& token);

  void post(const Notification& notification);
  void post(std::string name, const void* sender = nullptr, Dictionary userInfo = {});
  // Posts through the main queue: delivered on the main thread on a later
  // drain, also when called on the main thread. False when the main queue
  // refused it.
  bool postOnMainThread(Notification notification);

 private:
  std::shared_ptr<detail::NotificationRegistry> registry_;
};

}  // namespace platform
