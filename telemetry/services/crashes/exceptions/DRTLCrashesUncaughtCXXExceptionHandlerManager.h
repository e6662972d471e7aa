#pragma once
// One terminate handler for the process: when a C++ exception nobody catches
// ends the process, it works out the exception's type name, its text and the
// stack of the throw (recorded by the program's own __cxa_throw, see
// DRTLCrashesCXXThrowCapture.cpp) and hands them to every registered handler,
// then to the terminate handler it replaced, else aborts.

#include <cstddef>
#include <cstdint>

namespace telemetry::crashes {

// Valid only during the handler call.
struct DRTLCrashesCXXExceptionInfo {
  const void* exceptionPointer = nullptr;
  const char* typeName = nullptr;          // mangled
  const char* exceptionMessage = nullptr;  // null for kinds without a text
  std::uint32_t frameCount = 0;
  const std::uint64_t* frameAddresses = nullptr;
};

using DRTLCrashesUncaughtCXXExceptionHandler = void (*)(const DRTLCrashesCXXExceptionInfo* info);

class DRTLCrashesUncaughtCXXExceptionHandlerManager {
 public:
  // The first handler installs the terminate handler; duplicates are called twice.
  static void addCXXExceptionHandler(DRTLCrashesUncaughtCXXExceptionHandler handler);
  // The last one out puts the previous terminate handler back, unless another
  // library replaced the manager's meanwhile (then that one stays in force).
  static void removeCXXExceptionHandler(DRTLCrashesUncaughtCXXExceptionHandler handler);
  static std::size_t countCXXExceptionHandler();
};

namespace detail {

inline constexpr int kThrowRecordFrames = 128;

// Per thread, filled by the throw hook while the terminate handler is installed.
struct ThrowRecord {
  void* thrownObject;
  void* frames[kThrowRecordFrames];
  std::int32_t frameCount;
};

// The key of the per-thread record (destructor free), made once.
unsigned throwRecordKey();
// Whether throws are recorded: the manager's terminate handler is installed.
bool throwCaptureOn();

}  // namespace detail
}  // namespace telemetry::crashes
