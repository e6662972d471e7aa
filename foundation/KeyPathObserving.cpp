#include "foundation/KeyPathObserving.h"

#include <memory>

namespace foundation {

void KeyPathObserving::addObserver(platform::ObservableObject& object, const std::vector<std::string>& keyPaths,
                                   Callback callback) {
  auto shared = std::make_shared<Callback>(std::move(callback));
  for (const std::string& keyPath : keyPaths) {
    platform::ObservationToken token =
        object.observeKey(keyPath, [shared, keyPath](const platform::Value& old, const platform::Value& now) {
          (*shared)(keyPath, old, now);
        });
    registrations_.emplace_back(keyPath, std::move(token));
  }
}

void KeyPathObserving::removeObserver(const std::vector<std::string>& keyPaths) {
  for (const std::string& keyPath : keyPaths) {
    std::erase_if(registrations_, [&](auto& registration) {
      if (registration.first != keyPath) return false;
      registration.second.reset();
      return true;
    });
  }
}

void KeyPathObserving::removeAll() {
  for (auto& registration : registrations_) registration.second.reset();
  registrations_.clear();
}

}  // namespace foundation
