#pragma once
// The host's callbacks on the sending of its events and pages; every call is
// optional and comes on the thread the channel reports on.

#include <memory>
#include <optional>

#include "platform/Error.h"

namespace telemetry::analytics {

class DRTLAnalytics;
class DRTLEventLog;
class DRTLPageLog;

class DRTLAnalyticsDelegate {
 public:
  virtual ~DRTLAnalyticsDelegate() = default;
  virtual void willSendEventLog(DRTLAnalytics&, const std::shared_ptr<DRTLEventLog>&) {}
  virtual void willSendPageLog(DRTLAnalytics&, const std::shared_ptr<DRTLPageLog>&) {}
  virtual void didSucceedSendingEventLog(DRTLAnalytics&, const std::shared_ptr<DRTLEventLog>&) {}
  virtual void didSucceedSendingPageLog(DRTLAnalytics&, const std::shared_ptr<DRTLPageLog>&) {}
  virtual void didFailSendingEventLog(DRTLAnalytics&, const std::shared_ptr<DRTLEventLog>&,
                                      const std::optional<platform::Error>&) {}
  virtual void didFailSendingPageLog(DRTLAnalytics&, const std::shared_ptr<DRTLPageLog>&,
                                     const std::optional<platform::Error>&) {}
};

}  // namespace telemetry::analytics
