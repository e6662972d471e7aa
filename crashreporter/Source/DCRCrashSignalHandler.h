#pragma once
// DCRCrashSignalHandler: one process-wide handler per monitored signal, run on
// an alternate stack, that passes each signal along a list of callbacks. The
// lists are read from signal handlers without locks (writers take a spin
// lock; readers count themselves in); the action each signal had before is
// kept so that the last callback can pass the signal on.
//
// Re-raising never loops: a signal nobody handled is re-raised with the
// default disposition in place, and an ignored synchronous fault counts as
// unhandled. errno is kept across every handler. Linux keeps alternate stacks
// per thread: the main thread gets one here, and every platform::Thread one at
// its start (installAlternateStackOnCurrentThread, hooked in by the reporter).

#include <signal.h>

#include "platform/Error.h"

namespace crashreporter {

// A callback: true when it handled the signal. `next` passes the signal on
// along the list (false when there is nothing after this callback).
struct DCRCrashSignalNext;
using DCRCrashSignalCallback = bool (*)(int signal, siginfo_t* info, void* ucontext, void* context,
                                        const DCRCrashSignalNext* next);
bool DCRCrashSignalCallNext(const DCRCrashSignalNext* next, int signal, siginfo_t* info, void* ucontext);

class DCRCrashSignalHandler {
 public:
  static constexpr std::size_t kAlternateStackSize = 64 * 1024;

  static DCRCrashSignalHandler& sharedHandler();

  // Installs the handler for `signal` once (SA_SIGINFO | SA_ONSTACK) and puts
  // the callback at the front of the list.
  platform::Status registerHandlerForSignal(int signal, DCRCrashSignalCallback callback, void* context);
  platform::Status registerHandlerWithSignal(int signal);
  // Hands the signal to the action installed before this handler: true when a
  // real handler took it; false for the default action, and for an ignored
  // synchronous fault (ignoring it would fault again for ever).
  static bool callPreviousAction(int signal, siginfo_t* info, void* ucontext);
  // Empties both lists; the installed handlers stay.
  static void resetHandlers();

  // A 64 KiB alternate stack for the calling thread (filled with a pattern so
  // its peak use can be measured); freed by releaseAlternateStackOnCurrentThread.
  static bool installAlternateStackOnCurrentThread();
  static void releaseAlternateStackOnCurrentThread();
  // Bytes of the calling thread's alternate stack that were ever written.
  static std::size_t alternateStackPeakUseOnCurrentThread();

 private:
  DCRCrashSignalHandler() = default;
};

}  // namespace crashreporter
