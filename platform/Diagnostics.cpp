#include "platform/Diagnostics.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

std::mutex handlerMutex;
std::shared_ptr<const DiagnosticHandler> handler;  // guarded by handlerMutex

}  // namespace

void reportDiagnostic(DiagnosticLevel level, const std::string& message) {
  std::shared_ptr<const DiagnosticHandler> current;
  {
    std::lock_guard guard(handlerMutex);
    current = handler;
  }
  if (current) {
    (*current)(level, message);
    return;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
}

void setDiagnosticHandler(DiagnosticHandler newHandler) {
  std::lock_guard guard(handlerMutex);
  handler = newHandler ? std::make_shared<const DiagnosticHandler>(std::move(newHandler)) : nullptr;
}

}  // namespace platform
