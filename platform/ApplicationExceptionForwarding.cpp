#include "platform/ApplicationExceptionForwarding.h"

#include <mutex>

namespace platform {
namespace {

std::mutex& forwarderMutex() {
  static std::mutex mutex;
  return mutex;
}

ApplicationExceptionForwarder& forwarderSlot() {
  static ApplicationExceptionForwarder forwarder;
  return forwarder;
}

}  // namespace

void setApplicationExceptionForwarder(ApplicationExceptionForwarder forwarder) {
  std::lock_guard lock(forwarderMutex());
  forwarderSlot() = std::move(forwarder);
}

ApplicationExceptionForwarder applicationExceptionForwarder() {
  std::lock_guard lock(forwarderMutex());
  return forwarderSlot();
}

}  // namespace platform
