#include "media/decoders/CVNMutex.h"

#include "platform/Diagnostics.h"

namespace media {

CVNMutex& CVNMutex::sharedMutex() {
  static CVNMutex* const shared = new CVNMutex();  // used by threads that may outlive static destruction
  return *shared;
}

void CVNMutex::lock() {
  mutex_.lock();
  owner_.store(std::this_thread::get_id());
}

bool CVNMutex::unlock() {
  if (!isHeldByCurrentThread()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "CVNMutex: unlock refused, the calling thread does not hold the lock");
    return false;
  }
  owner_.store(std::thread::id());
  mutex_.unlock();
  return true;
}

}  // namespace media
