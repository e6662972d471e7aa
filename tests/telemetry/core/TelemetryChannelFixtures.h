#pragma once
// A fake ingestion that records batches and answers when told, and a channel
// delegate that records what it hears, for the channel tests.

#include <atomic>
#include <mutex>
#include <vector>

#include "TelemetryLogFixtures.h"
#include "telemetry/core/Channel/DRTLChannelDelegate.h"
#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/Ingestion/DRTLHttpIngestion.h"

namespace telemetry::core::testing_support {

// Records each batch; answers only when the test says so.
class FakeIngestion : public DRTLIngestionProtocol {
 public:
  bool isReadyToSend() override { return ready; }
  void sendAsync(const std::shared_ptr<DRTLLogContainer>& container, DRTLSendAsyncCompletionHandler handler) override {
    std::lock_guard lock(mutex_);
    sent_.emplace_back(container, std::move(handler));
  }
  void setEnabled(bool, bool) override {}

  std::size_t batchCount() {
    std::lock_guard lock(mutex_);
    return sent_.size();
  }
  std::size_t logCount(std::size_t batch) {
    std::lock_guard lock(mutex_);
    return sent_.at(batch).first->logs.size();
  }
  void answer(std::size_t batch, std::int64_t status) {
    std::pair<std::shared_ptr<DRTLLogContainer>, DRTLSendAsyncCompletionHandler> entry;
    {
      std::lock_guard lock(mutex_);
      entry = sent_.at(batch);
    }
    auto response = std::make_shared<DRTLHttpResponse>();
    response->statusCode = status;
    entry.second(entry.first->batchId, response, std::nullopt, std::nullopt);
  }

  std::atomic<bool> ready{true};

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::shared_ptr<DRTLLogContainer>, DRTLSendAsyncCompletionHandler>> sent_;
};

class RecordingDelegate : public DRTLChannelDelegate {
 public:
  void channelDidCompleteEnqueueingLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&,
                                       const std::string&) override {
    ++completed;
  }
  void channelWillSendLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&) override { ++willSend; }
  void channelDidSucceedSendingLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&) override { ++succeeded; }
  void channelDidFailSendingLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&,
                                const std::optional<platform::Error>& error) override {
    std::lock_guard lock(mutex);
    failures.push_back(error ? error->code : -1);
  }
  void channelDidPauseWithIdentifyingObject(DRTLChannelProtocol*, const std::shared_ptr<void>&) override { ++pauses; }
  void channelDidResumeWithIdentifyingObject(DRTLChannelProtocol*, const std::shared_ptr<void>&) override { ++resumes; }
  bool channelUnitShouldFilterLog(DRTLChannelUnitProtocol*, const std::shared_ptr<DRTLAbstractLog>& log) override {
    return logName(log).rfind("filtered", 0) == 0;
  }

  std::atomic<int> completed{0}, willSend{0}, succeeded{0}, pauses{0}, resumes{0};
  std::mutex mutex;
  std::vector<std::int64_t> failures;
};

}  // namespace telemetry::core::testing_support
