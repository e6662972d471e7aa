#pragma once
// The hook for exceptions nothing catches: installed as the process's
// terminate handler, it hands the exception's type name, its what() text ("" when
// it has none) and the return addresses of the terminating stack to the
// handler, once, and then aborts. Set once at start-up.

#include <cstddef>
#include <cstdint>

namespace platform {

using UncaughtExceptionHandler = void (*)(const char* name, const char* reason, const std::uint64_t* returnAddresses,
                                          std::size_t count);

void setUncaughtExceptionHandler(UncaughtExceptionHandler handler);
// The handler set, or null; for a terminate handler chained in front of this one.
UncaughtExceptionHandler uncaughtExceptionHandler();

}  // namespace platform
