#pragma once
// Stopping the process's other threads while a report is written. Linux has
// no call that suspends another thread of the own process and reads its
// registers, so each thread is sent a capture signal (a real-time signal
// chosen at init) with tgkill. Its handler copies the interrupted context
// into a slot prepared at init, marks the slot ready and waits on a futex
// until the report is written (2 s at most, so a lost release never parks a
// thread for good). The writing thread waits at most 100 ms per thread on
// CLOCK_MONOTONIC; a thread that does not answer (signal blocked, stopped by
// a tracer, stuck) is written without frames.
//
// The thread list is /proc/self/task, read with getdents64 through a
// descriptor opened at init. At most kDrcrashMaxThreads threads are listed.
// Everything after init is async-signal-safe. One capture runs at a time;
// a second one waits for the first (a crash waits at most 3 s, then writes
// its own thread only).

#include <sys/types.h>

#include <cstddef>

#include "crashreporter/Source/DCRCrashReportWriter.h"

namespace crashreporter {

// Opens the thread directory, picks and installs the capture signal and maps
// the slots (not async-safe; call when enabling). Idempotent. False when any
// of it failed; captures then hold the calling thread only.
bool drcrash_thread_capture_init();
// The real-time signal in use, 0 before init.
int drcrash_thread_capture_signal();

struct drcrash_thread_capture_options {
  pid_t crashed = 0;                                // the thread marked crashed
  const drcrash_async_thread_state* own = nullptr;  // the calling thread's state; null leaves it out
  bool wait_for_lock = true;                        // false: give up at once when another capture runs
};

// Lists the threads in the kernel's order and stops every one but the caller.
// `*threads` points at the list in the capture's own memory, valid until
// drcrash_thread_capture_resume_all. Returns the count (0 when nothing could be
// listed; then only `own` is returned when given). `found_crashed` tells
// whether the crashed thread was among them.
std::size_t drcrash_thread_capture_suspend_all(const drcrash_thread_capture_options& options,
                                               const drcrash_log_thread** threads, bool* found_crashed);
// Lets every stopped thread go on and ends the capture.
void drcrash_thread_capture_resume_all();

}  // namespace crashreporter
