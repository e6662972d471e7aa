#pragma once
// Exceptions that escape an event handler of the window layer's application
// object. Without a forwarder they travel on (and end the process); once a
// forwarder is set, the application object catches them, hands each to the
// forwarder first, then runs its own reporting and carries on with the next
// event. Keeps code without a window system (telemetry) apart from the
// application object. Set once, at start-up; called on the main thread,
// outside the hook's lock.

#include <exception>
#include <functional>

namespace platform {

using ApplicationExceptionForwarder = std::function<void(const std::exception_ptr& exception)>;

// An empty forwarder removes it.
void setApplicationExceptionForwarder(ApplicationExceptionForwarder forwarder);
// The forwarder set, or an empty one.
ApplicationExceptionForwarder applicationExceptionForwarder();

}  // namespace platform
