#include "app/shell/EventExceptionGuard.h"

#include "platform/ApplicationExceptionForwarding.h"

namespace app {

bool forwardEscapedException(const std::exception_ptr& exception, CorvaneApplication& application) {
  const platform::ApplicationExceptionForwarder forwarder = platform::applicationExceptionForwarder();
  if (!forwarder) return false;
  forwarder(exception);
  application.reportException(exception);
  return true;
}

}  // namespace app
