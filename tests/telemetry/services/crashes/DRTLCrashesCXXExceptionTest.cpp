// The terminate handler manager's list and the wrapper exception's naming,
// without terminating (the children of the capture tests do that).

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <typeinfo>

#include "telemetry/services/crashes/exceptions/DRTLCrashesCXXExceptionWrapperException.h"

namespace telemetry::crashes {
namespace {

void handlerA(const DRTLCrashesCXXExceptionInfo*) {}
void handlerB(const DRTLCrashesCXXExceptionInfo*) {}
void otherLibrarysTerminate() { std::abort(); }

using Manager = DRTLCrashesUncaughtCXXExceptionHandlerManager;

TEST(DRTLCrashesCXXExceptionTest, TheWrapperNamesTheDemangledTypeAndKeepsTheThrowStack) {
  const std::uint64_t frames[] = {0x1000, 0x2000};
  struct Case {
    const char* typeName;
    const char* message;
    const char* name;
    const char* reason;
  };
  for (const Case& c : {Case{typeid(std::runtime_error).name(), "boom", "std::runtime_error", "boom"},
                        Case{typeid(int).name(), nullptr, "int", ""},
                        Case{"not a mangled name!", nullptr, "not a mangled name!", ""},
                        Case{nullptr, nullptr, "", ""}}) {
    DRTLCrashesCXXExceptionInfo info;
    info.typeName = c.typeName;
    info.exceptionMessage = c.message;
    info.frameCount = 2;
    info.frameAddresses = frames;
    const DRTLCrashesCXXExceptionWrapperException wrapper(&info);
    EXPECT_EQ(wrapper.name(), c.name);
    EXPECT_EQ(wrapper.reason(), c.reason);
    EXPECT_EQ(wrapper.callStackReturnAddresses(), (std::vector<std::uint64_t>{0x1000, 0x2000}));
  }
}

TEST(DRTLCrashesCXXExceptionTest, HandlersAreCountedWithDuplicatesAndTheLastOutRestoresTheTerminateHandler) {
  const std::size_t before = Manager::countCXXExceptionHandler();
  const std::terminate_handler original = std::get_terminate();
  Manager::addCXXExceptionHandler(handlerA);
  Manager::addCXXExceptionHandler(handlerA);
  EXPECT_EQ(Manager::countCXXExceptionHandler(), before + 2);
  Manager::removeCXXExceptionHandler(handlerB);  // not registered: nothing changes
  EXPECT_EQ(Manager::countCXXExceptionHandler(), before + 2);
  Manager::removeCXXExceptionHandler(handlerA);
  Manager::removeCXXExceptionHandler(handlerA);
  EXPECT_EQ(Manager::countCXXExceptionHandler(), before);
  if (before != 0) GTEST_SKIP() << "another test's service keeps the terminate handler installed";
  EXPECT_EQ(std::get_terminate(), original);

  // Another library replaced the manager's handler meanwhile: that one stays.
  Manager::addCXXExceptionHandler(handlerB);
  std::set_terminate(otherLibrarysTerminate);
  Manager::removeCXXExceptionHandler(handlerB);
  EXPECT_EQ(std::get_terminate(), otherLibrarysTerminate);
  std::set_terminate(original);
}

}  // namespace
}  // namespace telemetry::crashes
