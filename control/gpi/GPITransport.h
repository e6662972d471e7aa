#pragma once
// GPITransport: one USB interface of a GPI box (interface 0 carries the line
// levels, interface 1 the extended functions). The box manager hands a box
// two of them; the box talks to its hardware only through this interface, so
// tests drive a box with a fake.
//
// Results are 0 for success and a negative GPITransportResult otherwise.
// open() and close() are called on the main thread; reports reach the handler
// on the main thread. setOutputReport() is called on the box's write queue and
// getInputReport() on the main thread.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace control {

// Failures a transport reports (the values libusb uses for the same causes).
enum GPITransportResult : int {
  kGPITransportSuccess = 0,
  kGPITransportIoError = -1,
  kGPITransportAccessDenied = -3,
  kGPITransportDeviceGone = -4,
  kGPITransportBusy = -6,
  kGPITransportTimeout = -7,
  kGPITransportOtherError = -99,
};

// A failure after which the interface cannot be used again (unplugged, broken).
inline bool isGPITransportFatal(int result) {
  return result != kGPITransportSuccess && result != kGPITransportTimeout && result != kGPITransportBusy;
}

class GPITransport {
 public:
  // (result, report id, report bytes). Interface 0 reports carry id 0 and no id
  // byte; interface 1 reports carry their id both here and in byte 0.
  using ReportHandler = std::function<void(int result, std::uint8_t reportId, std::span<const std::uint8_t> report)>;

  virtual ~GPITransport() = default;

  // 0 or 1.
  virtual int interfaceNumber() const = 0;
  // Takes the interface and starts delivering its input reports to `handler`.
  virtual int open(ReportHandler handler) = 0;
  // Sends one output report (report id 0: `report` goes out as it is).
  virtual int setOutputReport(std::uint8_t reportId, std::span<const std::uint8_t> report) = 0;
  // Reads the input report `reportId` now; `report` is resized to what came back.
  virtual int getInputReport(std::uint8_t reportId, std::vector<std::uint8_t>& report, std::size_t maxLength) = 0;
  // Stops the reports and gives the interface back; no handler call follows.
  virtual void close() = 0;
};

}  // namespace control
