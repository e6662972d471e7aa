#include "platform/Observable.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <thread>

#include "platform/Clock.h"
#include "platform/Diagnostics.h"

namespace platform {
namespace detail {

struct ObserverRegistry::State {
  struct Entry {
    std::string key;
    std::shared_ptr<void> callback;
    std::vector<std::thread::id> running;  // one element per call in progress
  };

  mutable std::mutex mutex;
  std::condition_variable callEnded;
  std::uint64_t nextId = 1;                // guarded by mutex
  std::map<std::uint64_t, Entry> entries;  // guarded by mutex; ordered by registration
  // Callbacks in entries, readable without the lock: most objects are never
  // observed, and asking them costs no lock.
  std::atomic<std::size_t> callbacks{0};
};

ObserverRegistry::ObserverRegistry() : state_(std::make_unique<State>()) {}

ObserverRegistry::~ObserverRegistry() = default;

std::uint64_t ObserverRegistry::add(std::string key, std::shared_ptr<void> callback) {
  std::lock_guard guard(state_->mutex);
  std::uint64_t id = state_->nextId++;
  if (callback) state_->callbacks.fetch_add(1, std::memory_order_release);
  state_->entries.emplace(id, State::Entry{std::move(key), std::move(callback), {}});
  return id;
}

void ObserverRegistry::remove(std::uint64_t id) {
  std::shared_ptr<void> released;  // destroyed after the lock: its captures may remove other observers
  std::unique_lock lock(state_->mutex);
  auto it = state_->entries.find(id);
  if (it == state_->entries.end()) return;
  // From now on beginCall refuses this id, so only calls already running remain.
  released = std::move(it->second.callback);
  if (released) state_->callbacks.fetch_sub(1, std::memory_order_release);

  const std::thread::id self = std::this_thread::get_id();
  auto runningElsewhere = [&] {
    const auto& running = state_->entries.at(id).running;
    return std::any_of(running.begin(), running.end(), [&](std::thread::id t) { return t != self; });
  };
  Clock& clock = Clock::current();
  bool finished = !runningElsewhere() || clock.waitUntil(lock, state_->callEnded, clock.now() + kObserverRemovalWaitLimit,
                                  [&] { return !runningElsewhere(); });
  state_->entries.erase(id);
  lock.unlock();
  if (!finished) {
    reportDiagnostic(DiagnosticLevel::Error,
                     "Observer removal gave up waiting for a callback still running on another thread after " +
                         std::to_string(kObserverRemovalWaitLimit.count()) + " s");
  }
}

std::vector<std::uint64_t> ObserverRegistry::idsForKey(std::string_view key) const {
  std::lock_guard guard(state_->mutex);
  std::vector<std::uint64_t> ids;
  for (const auto& [id, entry] : state_->entries) {
    if (entry.callback && entry.key == key) ids.push_back(id);
  }
  return ids;
}

bool ObserverRegistry::hasObservers(std::string_view key) const {
  if (state_->callbacks.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard guard(state_->mutex);
  return std::any_of(state_->entries.begin(), state_->entries.end(),
                     [&](const auto& item) { return item.second.callback && item.second.key == key; });
}

bool ObserverRegistry::hasAnyObservers() const { return state_->callbacks.load(std::memory_order_acquire) != 0; }

std::shared_ptr<void> ObserverRegistry::beginCall(std::uint64_t id) {
  std::lock_guard guard(state_->mutex);
  auto it = state_->entries.find(id);
  if (it == state_->entries.end() || !it->second.callback) return nullptr;
  it->second.running.push_back(std::this_thread::get_id());
  return it->second.callback;
}

void ObserverRegistry::endCall(std::uint64_t id) {
  {
    std::lock_guard guard(state_->mutex);
    auto it = state_->entries.find(id);
    // Gone already when the callback removed itself.
    if (it == state_->entries.end()) return;
    auto& running = it->second.running;
    auto mine = std::find(running.begin(), running.end(), std::this_thread::get_id());
    if (mine != running.end()) running.erase(mine);
  }
  state_->callEnded.notify_all();
}

}  // namespace detail

ObservableObject::ObservableObject() : registry_(std::make_shared<detail::ObserverRegistry>()) {}

ObservationToken ObservableObject::observeKey(std::string key, KeyCallback callback) {
  std::uint64_t id = registry_->add(std::move(key), std::make_shared<KeyCallback>(std::move(callback)));
  return ObservationToken(registry_, id);
}

void ObservableObject::didChangeValueForKey(std::string_view key, const Value& old, const Value& now) {
  if (old == now) return;
  detail::notifyObservers<KeyCallback>(*registry_, key, old, now);
}

bool ObservableObject::hasObserversForKey(std::string_view key) const { return registry_->hasObservers(key); }

bool ObservableObject::hasObservers() const { return registry_->hasAnyObservers(); }

}  // namespace platform
