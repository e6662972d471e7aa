#include "telemetry/services/crashes/exceptions/DRTLCrashesUncaughtCXXExceptionHandlerManager.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace telemetry::crashes {
namespace {

// A spin lock: it is taken in the terminate handler, which must not allocate.
std::atomic_flag busy = ATOMIC_FLAG_INIT;
void lock() {
  while (busy.test_and_set(std::memory_order_acquire)) {
  }
}
void unlock() { busy.clear(std::memory_order_release); }

// Guarded by the spin lock.
std::vector<DRTLCrashesUncaughtCXXExceptionHandler>& handlers() {
  static auto* list = new std::vector<DRTLCrashesUncaughtCXXExceptionHandler>;
  return *list;
}
std::terminate_handler previousHandler = nullptr;
std::atomic<bool> installed{false};

void callHandlers(const DRTLCrashesCXXExceptionInfo& info) {
  for (const auto handler : handlers()) handler(&info);
}

void endWithPrevious() {
  const std::terminate_handler previous = previousHandler;
  unlock();
  if (previous) previous();
}

void terminateHandler() {
  std::exception_ptr current = std::current_exception();
  lock();
  if (!current) {
    endWithPrevious();
    std::abort();
  }
  DRTLCrashesCXXExceptionInfo info;
  info.exceptionPointer = &current;
  const std::type_info* type = abi::__cxa_current_exception_type();
  info.typeName = type ? type->name() : nullptr;

  // The stack of the throw when the hook recorded one, else the stack now;
  // either way without its first frame (the hook's or this handler's own).
  std::uint64_t frames[detail::kThrowRecordFrames];
  void* now[detail::kThrowRecordFrames];
  void* const* source = now;
  int count = 0;
  const auto* record = static_cast<const detail::ThrowRecord*>(pthread_getspecific(detail::throwRecordKey()));
  if (record && record->frameCount > 0) {
    source = record->frames;
    count = record->frameCount;
  } else {
    count = backtrace(now, detail::kThrowRecordFrames);
  }
  for (int i = 1; i < count; ++i) frames[i - 1] = reinterpret_cast<std::uint64_t>(source[i]);
  info.frameCount = count > 1 ? static_cast<std::uint32_t>(count - 1) : 0;
  info.frameAddresses = frames;

  try {
    std::rethrow_exception(current);
  } catch (const std::exception& exception) {
    info.exceptionMessage = exception.what();
    callHandlers(info);
  } catch (const std::exception* exception) {
    info.exceptionMessage = exception ? exception->what() : nullptr;
    callHandlers(info);
  } catch (const std::string& text) {
    info.exceptionMessage = text.c_str();
    callHandlers(info);
  } catch (const std::string* text) {
    info.exceptionMessage = text ? text->c_str() : nullptr;
    callHandlers(info);
  } catch (const char* text) {
    info.exceptionMessage = text;
    callHandlers(info);
  } catch (...) {
    callHandlers(info);
  }
  endWithPrevious();
  std::abort();
}

}  // namespace

namespace detail {
bool throwCaptureOn() { return installed.load(std::memory_order_relaxed); }
}  // namespace detail

void DRTLCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(
    DRTLCrashesUncaughtCXXExceptionHandler handler) {
  (void)detail::throwRecordKey();
  lock();
  if (!installed.load()) {
    previousHandler = std::set_terminate(terminateHandler);
    installed.store(true);
  }
  handlers().push_back(handler);
  unlock();
}

void DRTLCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(
    DRTLCrashesUncaughtCXXExceptionHandler handler) {
  lock();
  auto& list = handlers();
  if (const auto found = std::find(list.begin(), list.end(), handler); found != list.end()) list.erase(found);
  if (installed.load() && list.empty()) {
    const std::terminate_handler replaced = std::set_terminate(previousHandler);
    if (replaced == terminateHandler) {
      installed.store(false);
      previousHandler = nullptr;
    } else {
      // Another library replaced ours meanwhile: its handler stays in force.
      std::set_terminate(replaced);
    }
  }
  unlock();
}

std::size_t DRTLCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() {
  lock();
  const std::size_t count = handlers().size();
  unlock();
  return count;
}

}  // namespace telemetry::crashes
