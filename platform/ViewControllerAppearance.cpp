#include "platform/ViewControllerAppearance.h"

#include <mutex>

namespace platform {
namespace {

std::mutex& handlerMutex() {
  static std::mutex mutex;
  return mutex;
}

ViewControllerAppearanceHandler& handlerSlot() {
  static ViewControllerAppearanceHandler handler;
  return handler;
}

}  // namespace

void setViewControllerAppearanceHandler(ViewControllerAppearanceHandler handler) {
  std::lock_guard lock(handlerMutex());
  handlerSlot() = std::move(handler);
}

void reportViewControllerWillAppear(const std::string& className) {
  ViewControllerAppearanceHandler handler;
  {
    std::lock_guard lock(handlerMutex());
    handler = handlerSlot();
  }
  if (handler) handler(className);
}

}  // namespace platform
