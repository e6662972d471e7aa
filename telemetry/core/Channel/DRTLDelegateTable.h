#pragma once
// A table of weakly held channel delegates under its own lock; callbacks go
// to a snapshot, outside the lock, so delegates may change the table.

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "telemetry/core/Channel/DRTLChannelDelegate.h"

namespace telemetry::core {

class DRTLDelegateTable {
 public:
  void add(const std::shared_ptr<DRTLChannelDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    prune();
    if (std::none_of(delegates_.begin(), delegates_.end(), [&](const auto& d) { return d.lock() == delegate; })) {
      delegates_.push_back(delegate);
    }
  }
  void remove(const std::shared_ptr<DRTLChannelDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    std::erase_if(delegates_, [&](const auto& d) { return d.expired() || d.lock() == delegate; });
  }
  std::vector<std::shared_ptr<DRTLChannelDelegate>> snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<DRTLChannelDelegate>> live;
    for (const auto& delegate : delegates_) {
      if (auto strong = delegate.lock()) live.push_back(std::move(strong));
    }
    return live;
  }
  void forEach(const std::function<void(DRTLChannelDelegate&)>& block) const {
    for (const auto& delegate : snapshot()) block(*delegate);
  }
  // True as soon as one delegate answers true; the later ones are not asked.
  bool any(const std::function<bool(DRTLChannelDelegate&)>& block) const {
    for (const auto& delegate : snapshot()) {
      if (block(*delegate)) return true;
    }
    return false;
  }

 private:
  void prune() { std::erase_if(delegates_, [](const auto& d) { return d.expired(); }); }

  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<DRTLChannelDelegate>> delegates_;  // guarded by mutex_
};

}  // namespace telemetry::core
