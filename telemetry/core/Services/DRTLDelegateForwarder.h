#pragma once
// DRTLDelegateForwarder: the switch and trace buffer of delegate forwarding.
// C++ has no run-time method replacement, and nothing in this client
// registers selectors or delegates with a forwarder, so registering them is
// a documented no-op: the forwarder keeps its Info.plist switch, its weakly
// held delegates and the trace lines written before a log level was chosen
// (replayed, in order, when the level is first set).
//
// DRTLAppDelegateForwarder reads "DirAradedAppDelegateForwarderEnabled" from
// the main bundle. Threads: any (the forwarder's lock; the buffer's lock).

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace telemetry::core {

class DRTLDelegateForwarder {
 public:
  using TraceBlock = std::function<void()>;

  virtual ~DRTLDelegateForwarder() = default;

  // The Info.plist boolean (true when absent) becomes the switch; one trace says which.
  void setEnabledFromPlistForKey(const std::string& key);
  void setEnabled(bool enabled);
  bool isEnabled() const;
  void addDelegate(const std::shared_ptr<void>& delegate);
  void removeDelegate(const std::shared_ptr<void>& delegate);
  std::size_t delegateCount() const;
  // No run-time replacement here: the selector is only remembered while enabled.
  void addDelegateSelectorToSwizzle(const std::string& selector);

  // Buffered until the first flush, run at once afterwards.
  static void addTraceBlock(TraceBlock block);
  static void flushTraceBuffer();

 private:
  mutable std::mutex mutex_;
  bool enabled_ = true;                            // guarded by mutex_
  std::vector<std::weak_ptr<void>> delegates_;     // guarded by mutex_
  std::vector<std::string> selectorsToSwizzle_;    // guarded by mutex_
};

class DRTLAppDelegateForwarder : public DRTLDelegateForwarder {
 public:
  static constexpr const char* kEnabledKey = "DirAradedAppDelegateForwarderEnabled";
  // Made on first use, reading its switch from the main bundle.
  static std::shared_ptr<DRTLAppDelegateForwarder> sharedInstance();
  static void resetSharedInstance();
};

}  // namespace telemetry::core
