#pragma once
// Helpers shared by the socket's implementation files (not part of its interface).

#include <cerrno>
#include <chrono>
#include <memory>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace control::detail {

// Longest wait of a public call for the socket queue.
inline constexpr std::chrono::seconds kSocketQueueWait{60};

inline platform::Clock::Duration seconds(double value) {
  return std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::duration<double>(value));
}

// Sets O_NONBLOCK; false (errno set) on failure.
bool setNonBlocking(int fd);
// Closes a descriptor the socket owns; the one place descriptors are closed.
void closeDescriptor(int fd);

}  // namespace control::detail
