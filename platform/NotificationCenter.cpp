#include "platform/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"

namespace platform {
namespace detail {

struct NotificationObserver {
  NotificationObserver(std::uint64_t i, std::string n, const void* s, NotificationCenter::Callback c, DispatchQueue* q)
      : id(i), name(std::move(n)), sender(s), callback(std::move(c)), queue(q) {}

  const std::uint64_t id;  // registration order
  const std::string name;
  const void* const sender;
  const NotificationCenter::Callback callback;
  DispatchQueue* const queue;  // not owned; null delivers on the posting thread

  // A call raises activeCalls before it checks `removed`, and removal sets
  // `removed` before it reads activeCalls (both sequentially consistent), so
  // either the call sees the removal or the removal waits for the call.
  std::atomic<int> activeCalls{0};
  std::atomic<bool> removed{false};
  std::mutex mutex;                   // pairs with callEnded only
  std::condition_variable callEnded;
};

namespace {

using ObserverPtr = std::shared_ptr<NotificationObserver>;

// Observers whose callback is running on this thread, innermost last.
thread_local std::vector<const NotificationObserver*> deliveringOnThisThread;

void endCall(NotificationObserver& observer) {
  observer.activeCalls.fetch_sub(1);
  if (!observer.removed.load()) return;
  std::lock_guard guard(observer.mutex);
  observer.callEnded.notify_all();
}

void deliver(NotificationObserver& observer, const Notification& notification) {
  observer.activeCalls.fetch_add(1);
  if (observer.removed.load()) {
    endCall(observer);
    return;
  }
  deliveringOnThisThread.push_back(&observer);
  try {
    observer.callback(notification);
  } catch (const std::exception& e) {
    reportDiagnostic(DiagnosticLevel::Error,
                     "NotificationCenter: observer of '" + notification.name + "' threw: " + e.what());
  } catch (...) {
    reportDiagnostic(DiagnosticLevel::Error,
                     "NotificationCenter: observer of '" + notification.name + "' threw a non-standard exception");
  }
  deliveringOnThisThread.pop_back();
  endCall(observer);
}

// Stops further calls and waits for calls running on other threads.
void retire(NotificationObserver& observer) {
  observer.removed.store(true);
  const auto own = std::count(deliveringOnThisThread.begin(), deliveringOnThisThread.end(), &observer);
  if (observer.activeCalls.load() <= own) return;
  std::unique_lock lock(observer.mutex);
  if (!waitOnCurrentClock(lock, observer.callEnded, NotificationCenter::kRemovalWaitLimit,
                          [&] { return observer.activeCalls.load() <= own; })) {
    reportDiagnostic(DiagnosticLevel::Error, "NotificationCenter: removing the observer of '" + observer.name +
                                                 "' gave up waiting for its callback on another thread");
  }
}

}  // namespace

// The observers of one centre, shared with its tokens and main-thread posts.
// Posting reads an immutable snapshot, so posts never wait for each other or
// for registration; adding and removing replace the snapshot.
class NotificationRegistry {
 public:
  ObserverPtr add(std::string name, const void* sender, NotificationCenter::Callback callback, DispatchQueue* queue) {
    std::lock_guard guard(mutex_);
    auto observer = std::make_shared<NotificationObserver>(nextId_++, std::move(name), sender, std::move(callback), queue);
    auto next = std::make_shared<Snapshot>(*snapshot_);
    (observer->name.empty() ? next->everyName : next->byName[observer->name]).push_back(observer);
    snapshot_ = std::move(next);
    return observer;
  }

  void remove(const ObserverPtr& observer) {
    std::shared_ptr<const Snapshot> previous;  // released after the lock
    {
      std::lock_guard guard(mutex_);
      auto next = std::make_shared<Snapshot>(*snapshot_);
      if (observer->name.empty()) {
        std::erase(next->everyName, observer);
      } else if (auto it = next->byName.find(observer->name); it != next->byName.end()) {
        std::erase(it->second, observer);
        if (it->second.empty()) next->byName.erase(it);
      }
      previous = std::exchange(snapshot_, std::move(next));
    }
    retire(*observer);
  }

  void post(const Notification& notification) {
    std::shared_ptr<const Snapshot> snapshot;
    {
      std::lock_guard guard(mutex_);
      snapshot = snapshot_;
    }
    static const std::vector<ObserverPtr> kNone;
    const std::vector<ObserverPtr>* named = &kNone;
    if (!notification.name.empty()) {
      if (auto it = snapshot->byName.find(notification.name); it != snapshot->byName.end()) named = &it->second;
    }
    const std::vector<ObserverPtr>& every = snapshot->everyName;
    std::shared_ptr<const Notification> copy;  // made once, for queued observers
    // Merge the two lists by id: registration order across both.
    auto a = named->begin();
    auto b = every.begin();
    while (a != named->end() || b != every.end()) {
      const ObserverPtr& observer = (b == every.end() || (a != named->end() && (*a)->id < (*b)->id)) ? *a++ : *b++;
      if (observer->sender && observer->sender != notification.sender) continue;
      if (!observer->queue) {
        deliver(*observer, notification);
        continue;
      }
      if (!copy) copy = std::make_shared<const Notification>(notification);
      if (!observer->queue->async([observer, copy] { deliver(*observer, *copy); })) {
        reportDiagnostic(DiagnosticLevel::Error, "NotificationCenter: queue '" + observer->queue->label() +
                                                     "' refused delivery of '" + notification.name + "'");
      }
    }
  }

 private:
  struct Snapshot {
    std::unordered_map<std::string, std::vector<ObserverPtr>> byName;  // each in registration order
    std::vector<ObserverPtr> everyName;                                // in registration order
  };

  std::mutex mutex_;
  std::uint64_t nextId_ = 1;                                                 // guarded by mutex_
  std::shared_ptr<const Snapshot> snapshot_ = std::make_shared<Snapshot>();  // guarded by mutex_
};

}  // namespace detail

ObserverToken::ObserverToken(std::weak_ptr<detail::NotificationRegistry> registry,
                             std::shared_ptr<detail::NotificationObserver> observer)
    : registry_(std::move(registry)), observer_(std::move(observer)) {}

ObserverToken::~ObserverToken() { reset(); }

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : registry_(std::move(other.registry_)), observer_(std::move(other.observer_)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
  if (this != &other) {
    reset();
    registry_ = std::move(other.registry_);
    observer_ = std::move(other.observer_);
  }
  return *this;
}

void ObserverToken::reset() {
  std::shared_ptr<detail::NotificationObserver> observer = std::move(observer_);
  if (!observer) return;
  if (auto registry = registry_.lock()) {
    registry->remove(observer);
  } else {
    // The centre is gone, but calls queued for this observer may remain.
    detail::retire(*observer);
  }
  registry_.reset();
}

NotificationCenter::NotificationCenter() : registry_(std::make_shared<detail::NotificationRegistry>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: threads still running while the process exits post to it.
  static NotificationCenter& center = *new NotificationCenter;
  return center;
}

ObserverToken NotificationCenter::addObserver(std::string name, const void* sender, Callback callback,
                                              DispatchQueue* queue) {
  return ObserverToken(registry_, registry_->add(std::move(name), sender, std::move(callback), queue));
}

void NotificationCenter::removeObserver(ObserverToken& token) { token.reset(); }

void NotificationCenter::post(const Notification& notification) { registry_->post(notification); }

void NotificationCenter::post(std::string name, const void* sender, Dictionary userInfo) {
  registry_->post(Notification{std::move(name), sender, {}, std::move(userInfo)});
}

bool NotificationCenter::postOnMainThread(Notification notification) {
  return DispatchQueue::main().async(
      [registry = std::weak_ptr<detail::NotificationRegistry>(registry_), notification = std::move(notification)] {
        if (auto strong = registry.lock()) strong->post(notification);
      });
}

}  // namespace platform
