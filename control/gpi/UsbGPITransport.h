#pragma once
// UsbContext, UsbGPITransport: GPITransport over libusb. A UsbContext is one
// libusb context with the thread that handles its events
// ("com.dirarovazovo.GPIBoxEvents"). A UsbGPITransport is one interface of an
// opened box: reports in by an interrupt transfer kept pending on the
// interface's IN endpoint, reports out by its interrupt-out endpoint or else
// a SET_REPORT request, present levels by GET_REPORT. Every transfer the
// caller waits for ends within kTransferLimit on platform::Clock; a transfer
// still running then is cancelled.
//
// Shared by the watcher and the box that uses it; see GPITransport for the
// threads of each call. Reports are handed over on the main queue.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "control/gpi/GPITransport.h"

struct libusb_context;
struct libusb_device_handle;

namespace platform {
class Thread;
}  // namespace platform

namespace control {

class UsbContext {
 public:
  // A new context with its event thread, or nullptr with `problem` set.
  static std::shared_ptr<UsbContext> create(std::string& problem);
  ~UsbContext();
  UsbContext(const UsbContext&) = delete;
  UsbContext& operator=(const UsbContext&) = delete;

  libusb_context* get() const { return context_; }

 private:
  explicit UsbContext(libusb_context* context);

  libusb_context* context_;
  int stopRequested_ = 0;  // libusb reads it between events
  std::unique_ptr<platform::Thread> eventThread_;
};

// One opened box, closed when its last interface lets go of it.
class UsbBox {
 public:
  UsbBox(std::shared_ptr<UsbContext> context, libusb_device_handle* handle);
  ~UsbBox();
  UsbBox(const UsbBox&) = delete;
  UsbBox& operator=(const UsbBox&) = delete;

  libusb_device_handle* handle() const { return handle_; }

 private:
  std::shared_ptr<UsbContext> context_;
  libusb_device_handle* handle_;
};

class UsbGPITransport final : public GPITransport {
 public:
  static constexpr std::chrono::seconds kTransferLimit{1};

  UsbGPITransport(std::shared_ptr<UsbBox> box, int interfaceNumber);
  ~UsbGPITransport() override;

  int interfaceNumber() const override { return interfaceNumber_; }
  int open(ReportHandler handler) override;
  int setOutputReport(std::uint8_t reportId, std::span<const std::uint8_t> report) override;
  int getInputReport(std::uint8_t reportId, std::vector<std::uint8_t>& report, std::size_t maxLength) override;
  void close() override;

  struct Reader;

 private:
  int findEndpoints();

  const std::shared_ptr<UsbBox> box_;
  const int interfaceNumber_;
  unsigned char inEndpoint_ = 0;
  unsigned char outEndpoint_ = 0;
  int inPacketSize_ = 64;
  bool claimed_ = false;
  bool detachedKernelDriver_ = false;
  std::shared_ptr<Reader> reader_;
};

}  // namespace control
