#pragma once
// Tells of memory pressure (warning or critical) on the main queue. On Linux:
// a pressure-stall trigger on /proc/pressure/memory, else the "high" and "max"
// counters of the process's cgroup v2 "memory.events"; watched by one thread
// that cancel() stops. Tests put a fake in through setFactory().

#include <functional>
#include <memory>

namespace telemetry::crashes {

class DRTLCrashesMemoryPressureSource {
 public:
  using Handler = std::function<void()>;
  using Factory = std::function<std::unique_ptr<DRTLCrashesMemoryPressureSource>()>;

  virtual ~DRTLCrashesMemoryPressureSource() = default;
  // The handler runs on the main queue once per event, until cancel().
  virtual void resume(Handler handler) = 0;
  virtual void cancel() = 0;

  // The system's source, or the factory's when one is set (null: the system's again).
  static std::unique_ptr<DRTLCrashesMemoryPressureSource> make();
  static void setFactory(Factory factory);
};

}  // namespace telemetry::crashes
