#include "platform/Diagnostics.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

struct Sink {
  std::mutex mutex;
  std::shared_ptr<const DiagnosticHandler> handler;  // guarded by mutex
};

// Never destroyed: threads still running while the process exits report here.
Sink& sink() {
  static Sink& instance = *new Sink;
  return instance;
}

}  // namespace

void reportDiagnostic(DiagnosticLevel level, const std::string& message) {
  std::shared_ptr<const DiagnosticHandler> current;
  {
    std::lock_guard guard(sink().mutex);
    current = sink().handler;
  }
  if (current) {
    (*current)(level, message);
    return;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
}

void setDiagnosticHandler(DiagnosticHandler newHandler) {
  std::lock_guard guard(sink().mutex);
  sink().handler = newHandler ? std::make_shared<const DiagnosticHandler>(std::move(newHandler)) : nullptr;
}

}  // namespace platform
