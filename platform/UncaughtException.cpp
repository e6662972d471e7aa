#include "platform/UncaughtException.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

namespace platform {
namespace {

std::atomic<UncaughtExceptionHandler> installedHandler{nullptr};
std::atomic<bool> reported{false};

[[noreturn]] void onTerminate() {
  UncaughtExceptionHandler handler = installedHandler.load();
  if (handler != nullptr && !reported.exchange(true)) {
    std::string name = "std::terminate";
    std::string reason;
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
      int status = 0;
      char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
      name = status == 0 && demangled != nullptr ? demangled : type->name();
      std::free(demangled);
      try {
        std::rethrow_exception(std::current_exception());
      } catch (const std::exception& exception) {
        reason = exception.what();
      } catch (...) {
      }
    }
    void* frames[512];
    const int count = backtrace(frames, 512);
    std::uint64_t addresses[512];
    for (int i = 0; i < count; ++i) addresses[i] = reinterpret_cast<std::uint64_t>(frames[i]);
    handler(name.c_str(), reason.c_str(), addresses, static_cast<std::size_t>(count > 0 ? count : 0));
  }
  std::abort();
}

}  // namespace

void setUncaughtExceptionHandler(UncaughtExceptionHandler handler) {
  installedHandler.store(handler);
  std::set_terminate(onTerminate);
}

UncaughtExceptionHandler uncaughtExceptionHandler() { return installedHandler.load(); }

}  // namespace platform
