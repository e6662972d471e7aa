#pragma once
// Work every platform::Thread does first and last on its own thread. The
// crash reporter uses it to give each thread its alternate signal stack (a
// stack overflow is reported only from a stack of its own). Set once, before
// the threads that need it start; any thread.

namespace platform {

struct ThreadHooks {
  void (*onStart)() = nullptr;
  void (*onEnd)() = nullptr;
};

void setThreadHooks(ThreadHooks hooks);

}  // namespace platform
