#pragma once
// GPIControllerInput, GPIControllerOutput: one line of a GPI box, as scripts
// and hosts reach it. An input also keeps the times of its last accepted
// changes to on and to off, which the box's anti-rebound filter reads.
//
// Owned by their GPIDeviceController; the back-pointer is not owned (the box
// outlives its lines). Main thread, except the timestamps (any thread).

#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/Clock.h"
#include "platform/Value.h"

namespace control {

class GPIDeviceController;

class GPIControllerInput {
 public:
  GPIControllerInput(GPIDeviceController* controller, std::int32_t index);
  GPIControllerInput(const GPIControllerInput&) = delete;
  GPIControllerInput& operator=(const GPIControllerInput&) = delete;

  std::int32_t index() const { return index_; }
  // The line's level in the last report (true = on).
  platform::Value state() const;

  std::optional<platform::Clock::TimePoint> lastChangeToOnTimestamp() const;
  void setLastChangeToOnTimestamp(std::optional<platform::Clock::TimePoint> timestamp);
  std::optional<platform::Clock::TimePoint> lastChangeToOffTimestamp() const;
  void setLastChangeToOffTimestamp(std::optional<platform::Clock::TimePoint> timestamp);

 private:
  GPIDeviceController* const controller_;  // not owned; owns this line
  const std::int32_t index_;
  mutable std::mutex mutex_;
  std::optional<platform::Clock::TimePoint> lastChangeToOn_;   // guarded by mutex_
  std::optional<platform::Clock::TimePoint> lastChangeToOff_;  // guarded by mutex_
};

class GPIControllerOutput {
 public:
  GPIControllerOutput(GPIDeviceController* controller, std::int32_t index);
  GPIControllerOutput(const GPIControllerOutput&) = delete;
  GPIControllerOutput& operator=(const GPIControllerOutput&) = delete;

  std::int32_t index() const { return index_; }
  // The level the box reported for the line (true = on).
  platform::Value state() const;
  // Drives the line to the value's boolean (a script's request).
  void setState(const platform::Value& state);
  // A timed pulse of the line (a script's pulse command); no result.
  void handlePulseCommand();

 private:
  GPIDeviceController* const controller_;  // not owned; owns this line
  const std::int32_t index_;
};

}  // namespace control
