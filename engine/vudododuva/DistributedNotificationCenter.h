#pragma once
// Notifications between processes of one user session, carried as signals on
// the session bus: interface "com.dirarovazovo.VudodoDuva", object path
// "/com/dirarovazovo/VudodoDuva", member = the last dotted part of the
// notification name, arguments (object, user information as an XML property
// list, "" for none). Posts reach this process's own observers too.
//
// Received user information is outside input: over 64 KiB, not a property
// list or not a dictionary, the notification is dropped.
//
// Owns a private bus connection and one thread running its signal loop;
// observers are called on that thread, never with a lock of ours held.
// Destruction stops and joins the thread; no observer runs after it returns.
// Every member is safe from any thread except the destructor, which must not
// run on an observer call.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace engine::vudododuva {

class DistributedNotificationCenter {
 public:
  // `userInfo` is null when the notification carried none.
  using Observer = std::function<void(const std::string& object, const platform::Dictionary* userInfo)>;

  // Connects to the session bus named by DBUS_SESSION_BUS_ADDRESS.
  static platform::Result<std::unique_ptr<DistributedNotificationCenter>> connect();
  ~DistributedNotificationCenter();
  DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
  DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

  // `deliverImmediately` waits (bounded) until the bus has the signal.
  platform::Status post(const std::string& name, const std::string& object, const platform::Dictionary* userInfo,
                        bool deliverImmediately);
  // Returns a token for removeObserver (never 0).
  std::uint64_t addObserver(const std::string& name, Observer observer);
  void removeObserver(std::uint64_t token);
  void removeAllObservers();

  struct Impl;

 private:
  explicit DistributedNotificationCenter(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace engine::vudododuva
