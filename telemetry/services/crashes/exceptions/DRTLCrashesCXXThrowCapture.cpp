// The program's own C++ throw entry: while the terminate handler of
// DRTLCrashesUncaughtCXXExceptionHandlerManager is installed, every throw
// first records, per thread, the thrown object and the stack at the throw,
// then goes on to the C++ runtime's entry unchanged. The symbol is exported
// from the executable (cxa_throw.dynlist), so the runtime library's own throws
// (std::vector::at and the like) come here too.
//
// AddressSanitizer intercepts the same entry; under it the hook is left out
// and the terminate handler falls back to the stack at termination.

#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <cstdlib>
#include <mutex>
#include <typeinfo>

#include "telemetry/services/crashes/exceptions/DRTLCrashesUncaughtCXXExceptionHandlerManager.h"

namespace telemetry::crashes::detail {

unsigned throwRecordKey() {
  static const pthread_key_t key = [] {
    pthread_key_t made;
    if (pthread_key_create(&made, std::free) != 0) std::abort();
    return made;
  }();
  return static_cast<unsigned>(key);
}

}  // namespace telemetry::crashes::detail

#if !defined(__SANITIZE_ADDRESS__)

namespace {

using ThrowEntry = void (*)(void*, std::type_info*, void (*)(void*));

ThrowEntry runtimeThrow() {
  static const ThrowEntry entry = reinterpret_cast<ThrowEntry>(dlsym(RTLD_NEXT, "__cxa_throw"));
  return entry;
}

void recordThrow(void* object) {
  using telemetry::crashes::detail::ThrowRecord;
  const auto key = static_cast<pthread_key_t>(telemetry::crashes::detail::throwRecordKey());
  auto* record = static_cast<ThrowRecord*>(pthread_getspecific(key));
  if (record == nullptr) {
    record = static_cast<ThrowRecord*>(std::calloc(1, sizeof(ThrowRecord)));
    if (record == nullptr || pthread_setspecific(key, record) != 0) {
      std::free(record);
      return;
    }
  }
  record->thrownObject = object;
  record->frameCount = backtrace(record->frames, telemetry::crashes::detail::kThrowRecordFrames);
}

}  // namespace

extern "C" [[noreturn]] void __cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
  const ThrowEntry next = runtimeThrow();
  if (telemetry::crashes::detail::throwCaptureOn()) recordThrow(object);
  if (next == nullptr) std::abort();
  next(object, type, destructor);
  std::abort();  // the runtime's entry does not return
}

#endif
