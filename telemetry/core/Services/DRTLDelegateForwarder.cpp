#include "telemetry/core/Services/DRTLDelegateForwarder.h"

#include <algorithm>
#include <optional>

#include "platform/Bundle.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

struct TraceBuffer {
  std::mutex mutex;
  std::optional<std::vector<DRTLDelegateForwarder::TraceBlock>> blocks{std::in_place};  // none once flushed
  bool started = false;
};

TraceBuffer& traceBuffer() {
  static TraceBuffer* const buffer = new TraceBuffer;  // lives for the process
  return *buffer;
}

}  // namespace

void DRTLDelegateForwarder::setEnabledFromPlistForKey(const std::string& key) {
  bool enabled = true;
  if (auto bundle = platform::Bundle::main()) enabled = bundle->objectForInfoDictionaryKey(key).booleanOr(true);
  setEnabled(enabled);
  addTraceBlock([key, enabled] {
    DRTLLogDebug("Delegate forwarder for info.plist key '" + key +
                 (enabled ? "' enabled. It may use swizzling." : "' disabled. It won't use swizzling."));
  });
}

void DRTLDelegateForwarder::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
  if (!enabled) delegates_.clear();
}

bool DRTLDelegateForwarder::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void DRTLDelegateForwarder::addDelegate(const std::shared_ptr<void>& delegate) {
  std::lock_guard lock(mutex_);
  if (enabled_ && delegate) delegates_.push_back(delegate);
}

void DRTLDelegateForwarder::removeDelegate(const std::shared_ptr<void>& delegate) {
  std::lock_guard lock(mutex_);
  if (!enabled_) return;
  std::erase_if(delegates_, [&](const std::weak_ptr<void>& held) {
    return held.expired() || (!held.owner_before(delegate) && !delegate.owner_before(held));
  });
}

std::size_t DRTLDelegateForwarder::delegateCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(delegates_.begin(), delegates_.end(), [](const auto& held) { return !held.expired(); }));
}

void DRTLDelegateForwarder::addDelegateSelectorToSwizzle(const std::string& selector) {
  std::lock_guard lock(mutex_);
  if (enabled_) selectorsToSwizzle_.push_back(selector);
}

void DRTLDelegateForwarder::addTraceBlock(TraceBlock block) {
  TraceBuffer& buffer = traceBuffer();
  {
    std::lock_guard lock(buffer.mutex);
    if (buffer.blocks) {
      if (!buffer.started) {
        buffer.started = true;
        buffer.blocks->push_back([] { DRTLLogVerbose(std::string("Start buffering traces.")); });
      }
      buffer.blocks->push_back(std::move(block));
      return;
    }
  }
  if (block) block();
}

void DRTLDelegateForwarder::flushTraceBuffer() {
  TraceBuffer& buffer = traceBuffer();
  std::lock_guard lock(buffer.mutex);
  if (!buffer.blocks) return;
  for (const TraceBlock& block : *buffer.blocks) {
    if (block) block();
  }
  buffer.blocks.reset();
  DRTLLogVerbose(std::string("Stop buffering traces, flushed."));
}

namespace {

std::mutex& forwarderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<DRTLAppDelegateForwarder>& forwarderSlot() {
  static std::shared_ptr<DRTLAppDelegateForwarder> forwarder;  // guarded by forwarderMutex()
  return forwarder;
}

}  // namespace

std::shared_ptr<DRTLAppDelegateForwarder> DRTLAppDelegateForwarder::sharedInstance() {
  std::lock_guard lock(forwarderMutex());
  if (!forwarderSlot()) {
    forwarderSlot() = std::make_shared<DRTLAppDelegateForwarder>();
    forwarderSlot()->setEnabledFromPlistForKey(kEnabledKey);
  }
  return forwarderSlot();
}

void DRTLAppDelegateForwarder::resetSharedInstance() {
  std::lock_guard lock(forwarderMutex());
  forwarderSlot().reset();
}

}  // namespace telemetry::core
