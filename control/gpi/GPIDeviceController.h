#pragma once
// GPIDeviceController: one attached USB GPI box (24 input lines, 8 output
// lines), reached through two GPITransport interfaces. It turns the box's
// reports into per-line change calls to its delegate, filters input bounces,
// drives the outputs, makes timed pulses and describes itself for JSON.
//
// Box types: 1 (product 0x1500, 4-byte reports), 2 (0x1503, 7 bytes) and 3
// (0x1506, 12 bytes, levels read through interface 1). Levels are active-low:
// a line is on when its bit is 0. Bit b lies in byte b / 8 at weight
// 2^(b mod 8).
//
// Choices that differ from the box's first design, each for a fault it had:
// - the anti-rebound filter still drops a bounce, but once the delay has run
//   out it reports the line's level when that differs from the level last
//   reported, so a line never rests in a state nobody was told of;
// - reports and the output image are kept apart: the image starts from the
//   first report's output bits and changes only by the set operations;
// - a pulse ends by restoring the level saved at its start;
// - writes go out on the GPIOutputWriter's queue, 10 ms apart, so the main
//   thread never sleeps;
// - a fatal transfer error (read or write) ends the box: the delegate is told
//   once through GPIDeviceDidFail.
//
// Created and owned (shared) by the box manager; hosts may hold it too.
// Lives on the main thread; the output writer has its own queue.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "control/gpi/GPIControllerLines.h"
#include "control/gpi/GPIOutputWriter.h"
#include "control/gpi/GPITransport.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Observable.h"
#include "platform/Value.h"

namespace control {

class GPIDeviceController;

inline constexpr const char* kTrelvaneAntiReboundDelayKey = "TrelvaneAntiReboundDelay";  // milliseconds
inline constexpr const char* kTrelvanePulseDelayKey = "TrelvanePulseDelay";              // milliseconds
inline constexpr const char* kTrelvaneDeviceDidConnectNotification = "TrelvaneDeviceDidConnect";

// What a box tells its owner (main thread). All optional.
class GPIDeviceController_Delegate {
 public:
  virtual ~GPIDeviceController_Delegate() = default;
  virtual void GPIDeviceWithSerialNumberInputAtIndex(const std::string& /*serialNumber*/, std::int32_t /*index*/,
                                                     bool /*state*/) {}
  virtual void GPIDeviceWithSerialNumberOutputAtIndex(const std::string& /*serialNumber*/, std::int32_t /*index*/,
                                                      bool /*state*/) {}
  // The box cannot be used any more (unplugged or broken during a transfer).
  virtual void GPIDeviceDidFail(GPIDeviceController& /*device*/) {}
};

class GPIDeviceController : public std::enable_shared_from_this<GPIDeviceController> {
 public:
  static constexpr std::int32_t kInputCount = 24;
  static constexpr std::int32_t kOutputCount = 8;
  static constexpr std::int64_t kComplexReportSize = 64;
  static constexpr std::uint8_t kComplexReportId = 0xFF;

  // `delegate` is not owned and must outlive the box (or be cleared first);
  // "TrelvaneDeviceDidConnect" goes to `center` (nullptr: the default centre).
  GPIDeviceController(std::string serialNumber, std::int32_t deviceType, GPIDeviceController_Delegate* delegate,
                      platform::NotificationCenter* center = nullptr);
  ~GPIDeviceController();
  GPIDeviceController(const GPIDeviceController&) = delete;
  GPIDeviceController& operator=(const GPIDeviceController&) = delete;

  void setDeviceRefForInterface0(std::shared_ptr<GPITransport> transport);
  void setDeviceRefForInterface1(std::shared_ptr<GPITransport> transport);
  const std::shared_ptr<GPITransport>& deviceRefForInterface0() const { return interface0_; }
  const std::shared_ptr<GPITransport>& deviceRefForInterface1() const { return interface1_; }
  // Closes both interfaces and drops the writes not yet sent (the box went away).
  void close();

  std::int32_t readIOWarriorCurrentValues();
  std::int32_t sendReadRequestToInterface1();
  // Queues one write of the output image (see GPIOutputWriter); 0, or the
  // failure when no interface 0 is attached.
  std::int32_t writeIOWarriorCurrentValues();
  // An input report as a transport delivers it.
  void handleInputReport(int result, std::uint8_t reportId, std::span<const std::uint8_t> report);
  void IOWarriorDeviceNewReport(std::span<const std::uint8_t> report, bool notify, bool firstTime);

  std::int32_t bitIndexForInputAtIndex(std::int32_t index) const;
  static std::int32_t bitIndexForOutputAtIndex(std::int32_t index) { return 24 + index; }
  void setBitAtIndex(std::int64_t bit, std::span<std::uint8_t> buffer) const;
  void clearBitAtIndex(std::int64_t bit, std::span<std::uint8_t> buffer) const;
  bool bitValueAtIndex(std::int64_t bit, std::span<const std::uint8_t> buffer) const;

  bool getInputStateAtIndex(std::int32_t index) const;
  // The level the box last reported, not the level last written.
  bool getOutputStateAtIndex(std::int32_t index) const;
  // The level the output image drives.
  bool drivenOutputStateAtIndex(std::int32_t index) const;

  void setOutputState(bool state, std::int32_t index);
  // Dictionaries with "index" and "state"; entries lacking either are skipped; one write.
  void setOutputStatesTo(const platform::Array& states);
  void pulseOutputAtIndex(std::int32_t index);
  void beginPulseOutputAtIndex(std::int32_t index);
  void endPulseOutputAtIndex(std::int32_t index);

  static std::string formattedReportWithBuffer(std::span<const std::uint8_t> buffer, std::int64_t size);
  void logMessageWithLevel(std::uint32_t level, bool show, const char* messageFormat, ...) const
      __attribute__((format(printf, 4, 5)));

  platform::Dictionary JSONDescription() const;
  platform::Array JSONInputs() const;
  platform::Dictionary JSONInputAtIndex(std::int32_t index) const;
  platform::Array JSONOutputs() const;
  platform::Dictionary JSONOutputAtIndex(std::int32_t index) const;

  const std::vector<std::unique_ptr<GPIControllerInput>>& inputs() const { return inputs_; }
  const std::vector<std::unique_ptr<GPIControllerOutput>>& outputs() const { return outputs_; }
  const std::string& serialNumber() const { return serialNumber_; }
  double antiReboundDelay() const { return antiReboundDelay_.load(); }
  void setAntiReboundDelay(double seconds) { antiReboundDelay_.store(seconds); }
  std::int32_t deviceType() const { return deviceType_; }
  std::int64_t reportValueBufferSize() const { return reportSize_; }
  std::int64_t complexReportValueBufferSize() const { return complexReportSize_; }
  // The last report taken in.
  const std::vector<std::uint8_t>& lastReportValueBuffer() const { return lastReport_; }
  // The output image as interface 0 would be sent it now.
  std::vector<std::uint8_t> reportValueBuffer() const;
  bool alreadyInitialized() const { return alreadyInitialized_; }
  GPIDeviceController_Delegate* delegate() const { return delegate_; }
  void setDelegate(GPIDeviceController_Delegate* delegate) { delegate_ = delegate; }
  // Writes queued on the output writer and not yet sent.
  std::size_t pendingWritesForTesting() const { return writer_->pendingWrites(); }

 private:
  GPITransport::ReportHandler reportHandler();
  void acceptInputChange(std::int32_t index, bool state);
  void scheduleSettle(std::int32_t index, platform::Clock::TimePoint deadline);
  void settleInput(std::int32_t index);
  void writeFinished(int result, std::uint8_t outputByte);
  void fail();

  const std::string serialNumber_;
  const std::int32_t deviceType_;
  const std::int64_t reportSize_;
  const std::int64_t complexReportSize_;
  GPIDeviceController_Delegate* delegate_;  // not owned; the manager outlives its boxes
  platform::NotificationCenter& center_;     // not owned; lives for the process or the test
  std::shared_ptr<GPITransport> interface0_;
  std::shared_ptr<GPITransport> interface1_;
  std::atomic<double> antiReboundDelay_{0.0};
  std::vector<std::uint8_t> lastReport_;
  std::vector<std::uint8_t> complexRequest_;
  bool alreadyInitialized_ = false;
  bool failed_ = false;
  std::array<bool, kInputCount> reportedInput_{};  // the level last reported per input
  std::array<platform::TaskHandle, kInputCount> settleTasks_{};
  std::array<int, kOutputCount> pulseDepth_{};
  std::array<bool, kOutputCount> pulseSavedLevel_{};
  std::vector<std::unique_ptr<GPIControllerOutput>> outputs_;
  std::vector<std::unique_ptr<GPIControllerInput>> inputs_;
  std::unique_ptr<GPIOutputWriter> writer_;
  platform::ObservationToken antiReboundObservation_;
};

}  // namespace control
