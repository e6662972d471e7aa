#pragma once
// What the support window offers the Profiler. Every operation but
// applicationInfo is optional; respondsTo() says which ones the window has.
#include <string_view>

#include "platform/Value.h"

namespace support {

class ProfilerDelegate_Protocol {
 public:
  virtual ~ProfilerDelegate_Protocol() = default;
  virtual bool respondsTo(std::string_view operation) const = 0;
  virtual void systemProfileRetrieved() {}
  virtual void supportFolderZipped() {}
  virtual void ticketListingRetrieved() {}
  virtual void deviceModelNameRetrieved() {}
  virtual void logsCollected() {}
  virtual void retrieveLogsFailed() {}
  virtual void largeFolderZipped() {}
  virtual platform::Dictionary applicationInfo() = 0;
};

}  // namespace support
