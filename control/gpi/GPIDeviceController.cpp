#include "control/gpi/GPIDeviceController.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "foundation/CVNLogController.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace control {
namespace {

std::int64_t reportSizeForType(std::int32_t type) {
  switch (type) {
    case 2:
      return 7;
    case 3:
      return 12;
    default:
      return 4;
  }
}

platform::Clock::Duration secondsToDuration(double seconds) {
  return std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

GPIDeviceController::GPIDeviceController(std::string serialNumber, std::int32_t deviceType,
                                         GPIDeviceController_Delegate* delegate, platform::NotificationCenter* center)
    : serialNumber_(std::move(serialNumber)),
      deviceType_(deviceType),
      reportSize_(reportSizeForType(deviceType)),
      complexReportSize_(deviceType == 3 ? kComplexReportSize : 0),
      delegate_(delegate),
      center_(center ? *center : platform::NotificationCenter::defaultCenter()),
      lastReport_(static_cast<std::size_t>(reportSize_), 0xFF),
      complexRequest_(static_cast<std::size_t>(complexReportSize_), 0) {
  if (!complexRequest_.empty()) complexRequest_[0] = kComplexReportId;
  reportedInput_.fill(false);
  for (std::int32_t i = 0; i < kOutputCount; ++i) outputs_.push_back(std::make_unique<GPIControllerOutput>(this, i));
  for (std::int32_t i = 0; i < kInputCount; ++i) inputs_.push_back(std::make_unique<GPIControllerInput>(this, i));
  writer_ = std::make_unique<GPIOutputWriter>(static_cast<std::size_t>(reportSize_),
                                              [this](int result, std::uint8_t byte) { writeFinished(result, byte); });

  platform::UserDefaults& defaults = platform::UserDefaults::standard();
  auto applyDelay = [this](const platform::Value& value) {
    // Milliseconds; anything but a number leaves the delay as it is.
    if (value.isNumber()) antiReboundDelay_.store(static_cast<double>(value.integerOr(0)) / 1000.0);
  };
  applyDelay(defaults.objectForKey(kTrelvaneAntiReboundDelayKey));
  antiReboundObservation_ = defaults.observeKey(
      kTrelvaneAntiReboundDelayKey, [applyDelay](const platform::Value&, const platform::Value& now) { applyDelay(now); });
}

GPIDeviceController::~GPIDeviceController() {
  antiReboundObservation_.reset();
  for (auto& task : settleTasks_) task.cancel();
  close();
}

void GPIDeviceController::close() {
  writer_->setTransport(nullptr);
  if (interface0_) interface0_->close();
  if (interface1_) interface1_->close();
}

GPITransport::ReportHandler GPIDeviceController::reportHandler() {
  return [weak = weak_from_this()](int result, std::uint8_t reportId, std::span<const std::uint8_t> report) {
    if (auto self = weak.lock()) self->handleInputReport(result, reportId, report);
  };
}

void GPIDeviceController::setDeviceRefForInterface0(std::shared_ptr<GPITransport> transport) {
  if (transport == interface0_) return;
  if (interface0_) interface0_->close();
  interface0_ = std::move(transport);
  writer_->setTransport(nullptr);
  if (!interface0_) return;
  const int result = interface0_->open(reportHandler());
  if (result != 0) {
    logMessageWithLevel(1, false, "Trelvane (%s): Error opening Trelvane device (%i)", serialNumber_.c_str(), result);
  } else {
    writer_->setTransport(interface0_);
  }
  if (interface1_) readIOWarriorCurrentValues();
}

void GPIDeviceController::setDeviceRefForInterface1(std::shared_ptr<GPITransport> transport) {
  if (transport != interface1_) {
    if (interface1_) interface1_->close();
    interface1_ = std::move(transport);
    // Only type 3 takes anything from interface 1; the smaller boxes leave it to the kernel.
    if (interface1_ && complexReportSize_ > 0) {
      const int result = interface1_->open(reportHandler());
      if (result != 0) {
        logMessageWithLevel(1, false, "Trelvane (%s): Error opening Trelvane device (%i)", serialNumber_.c_str(),
                            result);
      }
    }
  }
  if (interface1_ && interface0_) readIOWarriorCurrentValues();
}

std::int32_t GPIDeviceController::readIOWarriorCurrentValues() {
  if (deviceType_ == 3) {
    sendReadRequestToInterface1();
    return 0;
  }
  if (!interface0_) return 0;
  std::vector<std::uint8_t> report;
  const int result = interface0_->getInputReport(0, report, static_cast<std::size_t>(reportSize_));
  if (result == 0 && static_cast<std::int64_t>(report.size()) == reportSize_) {
    IOWarriorDeviceNewReport(report, false, true);
  }
  return 0;
}

std::int32_t GPIDeviceController::sendReadRequestToInterface1() {
  if (!interface1_) return -1;
  return interface1_->setOutputReport(0, complexRequest_);
}

std::int32_t GPIDeviceController::writeIOWarriorCurrentValues() {
  if (!interface0_) {
    logMessageWithLevel(1, false, "Trelvane (%s): Cannot write to Trelvane (%i)", serialNumber_.c_str(),
                        static_cast<int>(kGPITransportDeviceGone));
    return kGPITransportDeviceGone;
  }
  writer_->requestWrite();
  return 0;
}

void GPIDeviceController::handleInputReport(int result, std::uint8_t reportId, std::span<const std::uint8_t> report) {
  if (failed_) return;
  if (result != 0) {
    if (isGPITransportFatal(result)) {
      logMessageWithLevel(1, false, "Trelvane (%s): Cannot read from Trelvane (%i)", serialNumber_.c_str(), result);
      fail();
    }
    return;
  }
  const auto length = static_cast<std::int64_t>(report.size());
  if (reportId == kComplexReportId && complexReportSize_ > 0 && length == complexReportSize_) {
    std::vector<std::uint8_t> levels(report.begin() + 1, report.begin() + 1 + reportSize_);
    IOWarriorDeviceNewReport(levels, false, true);
    return;
  }
  if (reportId == 0 && length == reportSize_) {
    if (std::equal(report.begin(), report.end(), lastReport_.begin())) return;
    IOWarriorDeviceNewReport(report, true, false);
    return;
  }
  logMessageWithLevel(2, false, "Trelvane: Received report with incorrect length (%li)", static_cast<long>(length));
}

void GPIDeviceController::IOWarriorDeviceNewReport(std::span<const std::uint8_t> report, bool notify,
                                                   bool firstTime) {
  if (static_cast<std::int64_t>(report.size()) != reportSize_) return;
  for (std::int32_t i = 0; i < kInputCount; ++i) {
    const std::int32_t bit = bitIndexForInputAtIndex(i);
    const bool now = bitValueAtIndex(bit, report);
    if (now == bitValueAtIndex(bit, lastReport_)) continue;
    if (!notify) {
      reportedInput_[static_cast<std::size_t>(i)] = now;
      continue;
    }
    GPIControllerInput& line = *inputs_[static_cast<std::size_t>(i)];
    const auto last = now ? line.lastChangeToOnTimestamp() : line.lastChangeToOffTimestamp();
    const auto delay = secondsToDuration(antiReboundDelay_.load());
    if (last && platform::Clock::current().now() - *last < delay) {
      scheduleSettle(i, *last + delay);
      continue;
    }
    // Back to the level last reported after a dropped bounce: nothing new to tell.
    if (now == reportedInput_[static_cast<std::size_t>(i)]) continue;
    acceptInputChange(i, now);
  }
  for (std::int32_t i = 0; i < kOutputCount; ++i) {
    const std::int32_t bit = bitIndexForOutputAtIndex(i);
    const bool now = bitValueAtIndex(bit, report);
    if (now == bitValueAtIndex(bit, lastReport_) || !notify) continue;
    if (delegate_) delegate_->GPIDeviceWithSerialNumberOutputAtIndex(serialNumber_, i, now);
  }
  std::copy(report.begin(), report.end(), lastReport_.begin());

  if (firstTime && !alreadyInitialized_) {
    writer_->setImage(report.size() > 3 ? report[3] : 0xFF);
    alreadyInitialized_ = true;
    platform::Notification notification;
    notification.name = kTrelvaneDeviceDidConnectNotification;
    notification.sender = this;
    notification.object = shared_from_this();
    center_.postOnMainThread(std::move(notification));
    logMessageWithLevel(2, false, "Trelvane: Initial Report: %s", formattedReportWithBuffer(report, reportSize_).c_str());
    return;
  }
  logMessageWithLevel(2, false, "Trelvane: Report: %s", formattedReportWithBuffer(report, reportSize_).c_str());
}

void GPIDeviceController::acceptInputChange(std::int32_t index, bool state) {
  GPIControllerInput& line = *inputs_[static_cast<std::size_t>(index)];
  const platform::Clock::TimePoint now = platform::Clock::current().now();
  if (state) {
    line.setLastChangeToOnTimestamp(now);
  } else {
    line.setLastChangeToOffTimestamp(now);
  }
  reportedInput_[static_cast<std::size_t>(index)] = state;
  if (delegate_) delegate_->GPIDeviceWithSerialNumberInputAtIndex(serialNumber_, index, state);
}

void GPIDeviceController::scheduleSettle(std::int32_t index, platform::Clock::TimePoint deadline) {
  platform::TaskHandle& task = settleTasks_[static_cast<std::size_t>(index)];
  task.cancel();
  task = platform::DispatchQueue::main().at(deadline, [weak = weak_from_this(), index] {
    if (auto self = weak.lock()) self->settleInput(index);
  });
}

void GPIDeviceController::settleInput(std::int32_t index) {
  if (failed_) return;
  const bool level = getInputStateAtIndex(index);
  if (level != reportedInput_[static_cast<std::size_t>(index)]) acceptInputChange(index, level);
}

std::int32_t GPIDeviceController::bitIndexForInputAtIndex(std::int32_t index) const {
  if (deviceType_ == 3 && index >= 8 && index <= 15) return 64 + index;
  return index;
}

void GPIDeviceController::setBitAtIndex(std::int64_t bit, std::span<std::uint8_t> buffer) const {
  if (bit < 0 || bit >= reportSize_ * 8 || static_cast<std::size_t>(bit / 8) >= buffer.size()) return;
  buffer[static_cast<std::size_t>(bit / 8)] |= static_cast<std::uint8_t>(1u << (bit % 8));
}

void GPIDeviceController::clearBitAtIndex(std::int64_t bit, std::span<std::uint8_t> buffer) const {
  if (bit < 0 || bit >= reportSize_ * 8 || static_cast<std::size_t>(bit / 8) >= buffer.size()) return;
  buffer[static_cast<std::size_t>(bit / 8)] &= static_cast<std::uint8_t>(~(1u << (bit % 8)));
}

bool GPIDeviceController::bitValueAtIndex(std::int64_t bit, std::span<const std::uint8_t> buffer) const {
  if (bit < 0 || bit >= reportSize_ * 8 || static_cast<std::size_t>(bit / 8) >= buffer.size()) return false;
  return (buffer[static_cast<std::size_t>(bit / 8)] & (1u << (bit % 8))) == 0;
}

bool GPIDeviceController::getInputStateAtIndex(std::int32_t index) const {
  if (index < 0 || index >= kInputCount) return false;
  return bitValueAtIndex(bitIndexForInputAtIndex(index), lastReport_);
}

bool GPIDeviceController::getOutputStateAtIndex(std::int32_t index) const {
  if (index < 0 || index >= kOutputCount) return false;
  return bitValueAtIndex(bitIndexForOutputAtIndex(index), lastReport_);
}

bool GPIDeviceController::drivenOutputStateAtIndex(std::int32_t index) const { return writer_->line(index); }

std::vector<std::uint8_t> GPIDeviceController::reportValueBuffer() const {
  std::vector<std::uint8_t> report(static_cast<std::size_t>(reportSize_), 0xFF);
  report[3] = writer_->image();
  return report;
}

void GPIDeviceController::setOutputState(bool state, std::int32_t index) {
  writer_->setLine(index, state);
  writeIOWarriorCurrentValues();
}

void GPIDeviceController::setOutputStatesTo(const platform::Array& states) {
  for (const platform::Value& entry : states) {
    const platform::Value& index = entry["index"];
    const platform::Value& state = entry["state"];
    if (!index.isNumber() || !(state.isNumber() || state.isBoolean())) continue;
    writer_->setLine(static_cast<int>(index.integerOr(-1)), state.booleanOr(false));
  }
  writeIOWarriorCurrentValues();
}

void GPIDeviceController::pulseOutputAtIndex(std::int32_t index) {
  beginPulseOutputAtIndex(index);
  const double milliseconds = platform::UserDefaults::standard().doubleForKey(kTrelvanePulseDelayKey);
  platform::DispatchQueue::main().after(secondsToDuration(std::max(0.0, milliseconds) / 1000.0),
                                        [weak = weak_from_this(), index] {
                                          if (auto self = weak.lock()) self->endPulseOutputAtIndex(index);
                                        });
}

void GPIDeviceController::beginPulseOutputAtIndex(std::int32_t index) {
  if (index < 0 || index >= kOutputCount) return;
  logMessageWithLevel(2, false, "Trelvane (%s): Output %i ---> Start Pulse", serialNumber_.c_str(), index + 1);
  const auto line = static_cast<std::size_t>(index);
  const bool level = drivenOutputStateAtIndex(index);
  // Overlapping pulses restore the level from before the first of them.
  if (pulseDepth_[line]++ == 0) pulseSavedLevel_[line] = level;
  setOutputState(!level, index);
}

void GPIDeviceController::endPulseOutputAtIndex(std::int32_t index) {
  if (index < 0 || index >= kOutputCount) return;
  const auto line = static_cast<std::size_t>(index);
  if (pulseDepth_[line] == 0 || --pulseDepth_[line] > 0) return;
  const bool temporary = drivenOutputStateAtIndex(index);
  setOutputState(pulseSavedLevel_[line], index);
  logMessageWithLevel(2, false, "Trelvane (%s): Output %i ---> End Pulse (temporay went to %i)", serialNumber_.c_str(),
                      index + 1, temporary ? 1 : 0);
}

void GPIDeviceController::writeFinished(int result, std::uint8_t outputByte) {
  logMessageWithLevel(2, false, "Trelvane (%s): Setting Outputs to: %s", serialNumber_.c_str(),
                      formattedReportWithBuffer(std::span<const std::uint8_t>(&outputByte, 1), 1).c_str());
  if (result == 0) return;
  logMessageWithLevel(1, false, "Trelvane (%s): Cannot write to Trelvane (%i)", serialNumber_.c_str(), result);
  if (!isGPITransportFatal(result)) return;
  platform::DispatchQueue::main().async([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->fail();
  });
}

void GPIDeviceController::fail() {
  if (failed_) return;
  failed_ = true;
  if (delegate_) delegate_->GPIDeviceDidFail(*this);
}

std::string GPIDeviceController::formattedReportWithBuffer(std::span<const std::uint8_t> buffer, std::int64_t size) {
  std::string text;
  const auto count = std::min<std::int64_t>(size, static_cast<std::int64_t>(buffer.size()));
  for (std::int64_t i = 0; i < count; ++i) {
    char part[4];
    std::snprintf(part, sizeof part, "%02x ", buffer[static_cast<std::size_t>(i)]);
    text += part;
  }
  return text;
}

void GPIDeviceController::logMessageWithLevel(std::uint32_t level, bool show, const char* messageFormat, ...) const {
  va_list arguments;
  va_start(arguments, messageFormat);
  foundation::CVNLogController::sharedLogController().logMessageWithLevelV(level, show, messageFormat, arguments);
  va_end(arguments);
}

platform::Dictionary GPIDeviceController::JSONDescription() const {
  return platform::Dictionary{{"serial_number", platform::Value(serialNumber_)},
                              {"input_count", platform::Value(static_cast<int>(inputs_.size()))},
                              {"output_count", platform::Value(static_cast<int>(outputs_.size()))}};
}

platform::Dictionary GPIDeviceController::JSONInputAtIndex(std::int32_t index) const {
  return platform::Dictionary{{"index", platform::Value(index)}, {"state", platform::Value(getInputStateAtIndex(index))}};
}

platform::Dictionary GPIDeviceController::JSONOutputAtIndex(std::int32_t index) const {
  return platform::Dictionary{{"index", platform::Value(index)},
                              {"state", platform::Value(getOutputStateAtIndex(index))}};
}

platform::Array GPIDeviceController::JSONInputs() const {
  platform::Array inputs;
  for (std::int32_t i = 0; i < kInputCount; ++i) inputs.emplace_back(JSONInputAtIndex(i));
  return inputs;
}

platform::Array GPIDeviceController::JSONOutputs() const {
  platform::Array outputs;
  for (std::int32_t i = 0; i < kOutputCount; ++i) outputs.emplace_back(JSONOutputAtIndex(i));
  return outputs;
}

}  // namespace control
