#pragma once
// KeyPathObserving: one observer of several keys of an ObservableObject,
// added and removed as a list of key paths in one call. Each registration is
// an ObservationToken, so whatever this object still holds is removed when it
// is destroyed: an owner cannot forget an observer in its tear-down.
//
// Owned by the observer; not itself thread-safe (its owner adds and removes
// from one thread). The callback runs as ObservableObject promises: on the
// thread that made the change, with no lock of the observed object held.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Observable.h"

namespace foundation {

class KeyPathObserving {
 public:
  using Callback = std::function<void(std::string_view keyPath, const platform::Value& old, const platform::Value& now)>;

  KeyPathObserving() = default;
  KeyPathObserving(KeyPathObserving&&) noexcept = default;
  KeyPathObserving& operator=(KeyPathObserving&&) noexcept = default;

  // Registers `callback` with `object` for each key path, in list order. The
  // object must outlive the registrations or they must be removed first.
  void addObserver(platform::ObservableObject& object, const std::vector<std::string>& keyPaths, Callback callback);
  // Removes the registrations for each key path, in list order (every
  // registration of a key path added more than once).
  void removeObserver(const std::vector<std::string>& keyPaths);
  void removeAll();

  std::size_t registrationCount() const { return registrations_.size(); }

 private:
  std::vector<std::pair<std::string, platform::ObservationToken>> registrations_;
};

}  // namespace foundation
