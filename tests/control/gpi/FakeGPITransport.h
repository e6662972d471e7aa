#pragma once
// A GPITransport for tests: records what the box sends, answers level reads
// with set bytes and lets the test deliver input reports (on the calling
// thread, which the tests make the main thread).

#include <cstdint>
#include <mutex>
#include <vector>

#include "control/gpi/GPITransport.h"

namespace control {

class FakeGPITransport final : public GPITransport {
 public:
  explicit FakeGPITransport(int interfaceNumber) : interfaceNumber_(interfaceNumber) {}

  int interfaceNumber() const override { return interfaceNumber_; }
  int open(ReportHandler handler) override {
    std::lock_guard guard(mutex_);
    ++opens_;
    if (openResult_ != 0) return openResult_;
    handler_ = std::move(handler);
    return 0;
  }
  int setOutputReport(std::uint8_t reportId, std::span<const std::uint8_t> report) override {
    std::lock_guard guard(mutex_);
    sent_.emplace_back(report.begin(), report.end());
    sentIds_.push_back(reportId);
    return writeResult_;
  }
  int getInputReport(std::uint8_t, std::vector<std::uint8_t>& report, std::size_t maxLength) override {
    std::lock_guard guard(mutex_);
    report = levels_;
    if (report.size() > maxLength) report.resize(maxLength);
    return 0;
  }
  void close() override {
    std::lock_guard guard(mutex_);
    closed_ = true;
    handler_ = nullptr;
  }

  // Delivers one input report as the hardware would.
  void deliver(std::vector<std::uint8_t> report, std::uint8_t reportId = 0, int result = 0) {
    ReportHandler handler;
    {
      std::lock_guard guard(mutex_);
      handler = handler_;
    }
    if (handler) handler(result, reportId, report);
  }

  void setLevels(std::vector<std::uint8_t> levels) {
    std::lock_guard guard(mutex_);
    levels_ = std::move(levels);
  }
  void setOpenResult(int result) {
    std::lock_guard guard(mutex_);
    openResult_ = result;
  }
  void setWriteResult(int result) {
    std::lock_guard guard(mutex_);
    writeResult_ = result;
  }
  std::vector<std::vector<std::uint8_t>> sent() const {
    std::lock_guard guard(mutex_);
    return sent_;
  }
  std::size_t sentCount() const {
    std::lock_guard guard(mutex_);
    return sent_.size();
  }
  bool isClosed() const {
    std::lock_guard guard(mutex_);
    return closed_;
  }
  int opens() const {
    std::lock_guard guard(mutex_);
    return opens_;
  }

 private:
  const int interfaceNumber_;
  mutable std::mutex mutex_;
  ReportHandler handler_;                       // guarded by mutex_
  std::vector<std::uint8_t> levels_;            // guarded by mutex_
  std::vector<std::vector<std::uint8_t>> sent_;  // guarded by mutex_
  std::vector<std::uint8_t> sentIds_;           // guarded by mutex_
  int openResult_ = 0;                          // guarded by mutex_
  int writeResult_ = 0;                         // guarded by mutex_
  int opens_ = 0;                               // guarded by mutex_
  bool closed_ = false;                         // guarded by mutex_
};

}  // namespace control
