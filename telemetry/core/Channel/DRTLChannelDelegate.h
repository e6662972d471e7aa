#pragma once
// The channel protocols and the callback protocol of the log pipeline. Every
// callback is optional (a no-op by default; a filter answers false). The
// channel argument is the unit or group raising the callback.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace telemetry::core {

class DRTLAbstractLog;
class DRTLChannelProtocol;
class DRTLChannelUnitProtocol;
class DRTLChannelGroupProtocol;

class DRTLChannelDelegate {
 public:
  virtual ~DRTLChannelDelegate() = default;
  virtual void channelGroupDidAddChannelUnit(DRTLChannelGroupProtocol*, const std::shared_ptr<DRTLChannelUnitProtocol>&) {}
  // On the enqueueing thread.
  virtual void channelPrepareLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&) {}
  virtual void channelDidPrepareLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&,
                                    const std::string& /*internalId*/, std::uint64_t /*flags*/) {}
  // The others on the channel group queue. A stored log is reported before its completion.
  virtual void channelDidStoreLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&,
                                  const std::string& /*internalId*/) {}
  virtual void channelDidCompleteEnqueueingLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&,
                                               const std::string& /*internalId*/) {}
  virtual void channelWillSendLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&) {}
  virtual void channelDidSucceedSendingLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&) {}
  virtual void channelDidFailSendingLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&,
                                        const std::optional<platform::Error>&) {}
  virtual void channelDidSetEnabled(DRTLChannelProtocol*, bool /*enabled*/, bool /*deleteData*/) {}
  virtual void channelDidPauseWithIdentifyingObject(DRTLChannelProtocol*, const std::shared_ptr<void>&) {}
  virtual void channelDidResumeWithIdentifyingObject(DRTLChannelProtocol*, const std::shared_ptr<void>&) {}
  virtual bool channelUnitShouldFilterLog(DRTLChannelUnitProtocol*, const std::shared_ptr<DRTLAbstractLog>&) {
    return false;
  }
};

class DRTLChannelProtocol {
 public:
  virtual ~DRTLChannelProtocol() = default;
  virtual void setEnabled(bool enabled, bool deleteData) = 0;
  virtual void addDelegate(const std::shared_ptr<DRTLChannelDelegate>& delegate) = 0;
  virtual void removeDelegate(const std::shared_ptr<DRTLChannelDelegate>& delegate) = 0;
  // Any object; held weakly, so an object that is freed no longer pauses.
  virtual void pauseWithIdentifyingObject(const std::shared_ptr<void>& object) = 0;
  virtual void resumeWithIdentifyingObject(const std::shared_ptr<void>& object) = 0;
};

}  // namespace telemetry::core
