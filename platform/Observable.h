#pragma once
// Observation of changing values: the system's stand-in for key-value observing.
//
// - Observable<T>: one thread-safe property; observers get (old, new) after
//   each set() that changed the value.
// - ObservableObject: observers by key name for an object with many
//   properties (a model object, the user defaults); its owner calls
//   didChangeValueForKey(key, old, new) after each change.
// - ObservationToken: what observe() returns; the observer stays registered
//   until the token is reset or destroyed.
//
// Rules shared by all three (the same as the notification centre's):
// - Observers run on the thread that made the change, after every lock of the
//   observed object is released, so they may read or change it again.
// - Removing an observer (token reset or destroyed) is safe from inside its own
//   callback and from any other thread. Once removal returns on another thread
//   the callback is not running and will not run again; from inside the
//   callback, it is not called again after the current call.
// - Removal waits for a call in progress on another thread at most
//   kObserverRemovalWaitLimit; past that it reports a diagnostic and returns,
//   because a callback that never returns is a fault to be seen, not a reason
//   to hang the remover.
// - Changes made on several threads at once notify in no guaranteed order.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Value.h"

namespace platform {

inline constexpr std::chrono::seconds kObserverRemovalWaitLimit{10};

namespace detail {

// The bookkeeping behind every observer list: registered callbacks (type-erased,
// optionally tagged with a key) and which threads are running each one. Shared
// by the observed object and, weakly, by its tokens. Thread-safe.
class ObserverRegistry {
 public:
  ObserverRegistry();
  ~ObserverRegistry();
  ObserverRegistry(const ObserverRegistry&) = delete;
  ObserverRegistry& operator=(const ObserverRegistry&) = delete;

  std::uint64_t add(std::string key, std::shared_ptr<void> callback);
  // Unregisters `id`, waiting (bounded) for calls of it running on other threads.
  void remove(std::uint64_t id);
  // Ids registered for `key` now, in registration order.
  std::vector<std::uint64_t> idsForKey(std::string_view key) const;
  bool hasObservers(std::string_view key) const;
  // Any callback at all, for any key.
  bool hasAnyObservers() const;

  // Marks a call of `id` as running on this thread and returns its callback,
  // or nullptr when it has been removed meanwhile. Pair with endCall.
  std::shared_ptr<void> beginCall(std::uint64_t id);
  void endCall(std::uint64_t id);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Calls every observer of `key` registered now with `args`, skipping those
// removed before their turn.
template <typename Callback, typename... Args>
void notifyObservers(ObserverRegistry& registry, std::string_view key, const Args&... args) {
  for (std::uint64_t id : registry.idsForKey(key)) {
    std::shared_ptr<void> callback = registry.beginCall(id);
    if (!callback) continue;
    struct EndCall {
      ObserverRegistry& registry;
      std::uint64_t id;
      ~EndCall() { registry.endCall(id); }
    } endCall{registry, id};
    (*std::static_pointer_cast<Callback>(callback))(args...);
  }
}

}  // namespace detail

// Keeps one observer registered. Move-only; removal happens on reset() or
// destruction. Outliving the observed object is harmless. Not itself
// thread-safe: one owner resets it, though the callback may run elsewhere.
class [[nodiscard]] ObservationToken {
 public:
  ObservationToken() = default;
  ObservationToken(std::weak_ptr<detail::ObserverRegistry> registry, std::uint64_t id)
      : registry_(std::move(registry)), id_(id) {}
  ~ObservationToken() { reset(); }
  ObservationToken(ObservationToken&& other) noexcept
      : registry_(std::move(other.registry_)), id_(std::exchange(other.id_, 0)) {}
  ObservationToken& operator=(ObservationToken&& other) noexcept {
    if (this != &other) {
      reset();
      registry_ = std::move(other.registry_);
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }
  ObservationToken(const ObservationToken&) = delete;
  ObservationToken& operator=(const ObservationToken&) = delete;

  // Removes the observer (see the removal rules at the top of this file).
  void reset() {
    if (id_ == 0) return;
    if (auto registry = registry_.lock()) registry->remove(id_);
    registry_.reset();
    id_ = 0;
  }
  bool isActive() const { return id_ != 0; }

 private:
  std::weak_ptr<detail::ObserverRegistry> registry_;
  std::uint64_t id_ = 0;
};

// One observable property. Owned by the object whose property it is; any
// thread. T must be copyable and equality-comparable.
template <typename T>
class Observable {
 public:
  using Callback = std::function<void(const T& old, const T& now)>;

  Observable() : value_() {}
  explicit Observable(T initial) : value_(std::move(initial)) {}
  Observable(const Observable&) = delete;
  Observable& operator=(const Observable&) = delete;

  T get() const {
    std::lock_guard guard(mutex_);
    return value_;
  }

  // Stores `value`; when it differs from the old one, notifies the observers
  // (after the lock is released) and returns true.
  bool set(T value) {
    std::optional<T> old;
    {
      std::lock_guard guard(mutex_);
      if (value_ == value) return false;
      old.emplace(std::exchange(value_, value));
    }
    detail::notifyObservers<Callback>(*registry_, {}, *old, value);
    return true;
  }

  ObservationToken observe(Callback callback) {
    std::uint64_t id = registry_->add({}, std::make_shared<Callback>(std::move(callback)));
    return ObservationToken(registry_, id);
  }

 private:
  mutable std::mutex mutex_;
  T value_;  // guarded by mutex_
  std::shared_ptr<detail::ObserverRegistry> registry_ = std::make_shared<detail::ObserverRegistry>();
};

// Observers by key name for an object with many properties. Embed it (or
// derive from it) in a model object; the object calls didChangeValueForKey
// after each change, without holding its own locks. Any thread.
class ObservableObject {
 public:
  using KeyCallback = std::function<void(const Value& old, const Value& now)>;

  ObservableObject();
  ObservableObject(const ObservableObject&) = delete;
  ObservableObject& operator=(const ObservableObject&) = delete;

  ObservationToken observeKey(std::string key, KeyCallback callback);
  // Notifies the observers of `key` when `old` and `now` differ.
  void didChangeValueForKey(std::string_view key, const Value& old, const Value& now);
  // Lets an owner skip computing values nobody is watching.
  bool hasObserversForKey(std::string_view key) const;
  // The same for every key at once: one check where an owner would ask key by key.
  bool hasObservers() const;

 private:
  std::shared_ptr<detail::ObserverRegistry> registry_;
};

}  // namespace platform
