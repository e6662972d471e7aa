#pragma once
// The guard the application object puts around each event it delivers. An
// exception that escapes the delivery goes, while a forwarder is set
// (platform/ApplicationExceptionForwarding.h: the crash service sets one),
// first to the forwarder, then to the application's own reportException,
// and delivery carries on (the event counts as not handled). Without a
// forwarder the exception travels on unchanged.
//
// Main thread (where events are delivered).

#include <exception>

#include "app/shell/CorvaneApplication.h"

namespace app {

// True when the exception was forwarded and reported; false when no
// forwarder is set (the caller then lets it travel on).
bool forwardEscapedException(const std::exception_ptr& exception, CorvaneApplication& application);

template <typename Deliver>
bool deliverForwardingExceptions(Deliver&& deliver, CorvaneApplication& application) {
  try {
    return deliver();
  } catch (...) {
    if (!forwardEscapedException(std::current_exception(), application)) throw;
    return false;
  }
}

}  // namespace app
