#include "control/gpi/UsbGPITransport.h"

#include <libusb-1.0/libusb.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/Thread.h"

namespace control {
namespace {

constexpr std::uint8_t kHidGetReport = 0x01;
constexpr std::uint8_t kHidSetReport = 0x09;
constexpr std::uint16_t kHidInputReport = 0x0100;
constexpr std::uint16_t kHidOutputReport = 0x0200;
// Class requests to an interface, host to device and device to host.
constexpr std::uint8_t kClassToInterface = 0x21;
constexpr std::uint8_t kClassFromInterface = 0xA1;

int transportResult(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
      return kGPITransportSuccess;
    case LIBUSB_TRANSFER_TIMED_OUT:
      return kGPITransportTimeout;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return kGPITransportDeviceGone;
    default:
      return kGPITransportIoError;
  }
}

// One transfer the caller waits for. Abandoned (never freed) when libusb does
// not give it back even after a cancel, which only a stuck event thread could
// cause: freeing it then would leave libusb writing into freed memory.
struct WaitedTransfer {
  static std::unique_ptr<WaitedTransfer, void (*)(WaitedTransfer*)> make() {
    return {new WaitedTransfer, [](WaitedTransfer* waited) {
              if (!waited->abandoned) delete waited;
            }};
  }
  bool abandoned = false;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;  // guarded by mutex
  libusb_transfer* transfer = libusb_alloc_transfer(0);
  std::vector<unsigned char> buffer;

  static void LIBUSB_CALL completed(libusb_transfer* transfer) {
    auto* self = static_cast<WaitedTransfer*>(transfer->user_data);
    std::lock_guard guard(self->mutex);
    self->finished = true;
    self->done.notify_all();
  }

  // Submits and waits; the transfer's status, or a submit failure.
  int run() {
    if (!transfer) return kGPITransportOtherError;
    transfer->user_data = this;
    transfer->callback = &WaitedTransfer::completed;
    transfer->timeout = 0;  // the limit runs on platform::Clock below
    const int submitted = libusb_submit_transfer(transfer);
    if (submitted < 0) return submitted;
    std::unique_lock lock(mutex);
    if (!platform::waitOnCurrentClock(lock, done, UsbGPITransport::kTransferLimit, [this] { return finished; })) {
      libusb_cancel_transfer(transfer);
      if (!platform::waitOnCurrentClock(lock, done, UsbGPITransport::kTransferLimit, [this] { return finished; })) {
        abandoned = true;
        return kGPITransportTimeout;
      }
      return kGPITransportTimeout;
    }
    return transportResult(transfer->status);
  }

  ~WaitedTransfer() {
    if (transfer) libusb_free_transfer(transfer);
  }
};

}  // namespace

// The pending interrupt-in transfer of one interface. Its completions run on
// the event thread and hand reports to the main queue.
struct UsbGPITransport::Reader {
  std::mutex mutex;
  std::condition_variable idle;
  bool inFlight = false;  // guarded by mutex
  bool stopping = false;  // guarded by mutex
  bool closed = false;    // main thread only
  int interfaceNumber = 0;
  libusb_transfer* transfer = libusb_alloc_transfer(0);
  std::vector<unsigned char> buffer;
  ReportHandler handler;
  std::weak_ptr<Reader> self;

  ~Reader() {
    if (transfer) libusb_free_transfer(transfer);
  }

  void deliver(int result, std::vector<std::uint8_t> report) {
    platform::DispatchQueue::main().async([weak = self, result, report = std::move(report)] {
      auto reader = weak.lock();
      if (!reader || reader->closed || !reader->handler) return;
      // Interface 1 reports begin with their id; interface 0 reports have none.
      const std::uint8_t id = reader->interfaceNumber == 1 && !report.empty() ? report[0] : 0;
      reader->handler(result, id, report);
    });
  }

  int submitLocked() {
    const int submitted = libusb_submit_transfer(transfer);
    inFlight = submitted == 0;
    return submitted;
  }

  static void LIBUSB_CALL completed(libusb_transfer* transfer) {
    auto* reader = static_cast<Reader*>(transfer->user_data);
    std::unique_lock lock(reader->mutex);
    reader->inFlight = false;
    if (reader->stopping || transfer->status == LIBUSB_TRANSFER_CANCELLED) {
      reader->idle.notify_all();
      return;
    }
    const int result = transportResult(transfer->status);
    if (result == kGPITransportSuccess) {
      reader->deliver(0, std::vector<std::uint8_t>(transfer->buffer, transfer->buffer + transfer->actual_length));
    } else if (result != kGPITransportTimeout) {
      reader->deliver(result, {});
      reader->idle.notify_all();
      return;
    }
    const int submitted = reader->submitLocked();
    if (submitted < 0) reader->deliver(submitted, {});
    reader->idle.notify_all();
  }
};

UsbContext::UsbContext(libusb_context* context) : context_(context) {
  eventThread_ = std::make_unique<platform::Thread>("com.dirarovazovo.GPIBoxEvents", [this](std::stop_token stop) {
    while (!stop.stop_requested()) libusb_handle_events_completed(context_, &stopRequested_);
  });
}

std::shared_ptr<UsbContext> UsbContext::create(std::string& problem) {
  libusb_context* context = nullptr;
  const int result = libusb_init(&context);
  if (result < 0) {
    problem = libusb_strerror(result);
    return nullptr;
  }
  return std::shared_ptr<UsbContext>(new UsbContext(context));
}

UsbContext::~UsbContext() {
  eventThread_->requestStop();
  stopRequested_ = 1;
  libusb_interrupt_event_handler(context_);
  eventThread_.reset();
  libusb_exit(context_);
}

UsbBox::UsbBox(std::shared_ptr<UsbContext> context, libusb_device_handle* handle)
    : context_(std::move(context)), handle_(handle) {}

UsbBox::~UsbBox() { libusb_close(handle_); }

UsbGPITransport::UsbGPITransport(std::shared_ptr<UsbBox> box, int interfaceNumber)
    : box_(std::move(box)), interfaceNumber_(interfaceNumber) {}

UsbGPITransport::~UsbGPITransport() { close(); }

int UsbGPITransport::findEndpoints() {
  libusb_config_descriptor* config = nullptr;
  const int result = libusb_get_active_config_descriptor(libusb_get_device(box_->handle()), &config);
  if (result < 0) return result;
  if (interfaceNumber_ < config->bNumInterfaces && config->interface[interfaceNumber_].num_altsetting > 0) {
    const libusb_interface_descriptor& setting = config->interface[interfaceNumber_].altsetting[0];
    for (int i = 0; i < setting.bNumEndpoints; ++i) {
      const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
      if ((endpoint.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_INTERRUPT) continue;
      if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
        inEndpoint_ = endpoint.bEndpointAddress;
        inPacketSize_ = endpoint.wMaxPacketSize > 0 ? endpoint.wMaxPacketSize : 64;
      } else {
        outEndpoint_ = endpoint.bEndpointAddress;
      }
    }
  }
  libusb_free_config_descriptor(config);
  return inEndpoint_ != 0 ? 0 : static_cast<int>(kGPITransportOtherError);
}

int UsbGPITransport::open(ReportHandler handler) {
  if (reader_) return kGPITransportBusy;
  libusb_device_handle* handle = box_->handle();
  // The kernel's own driver for these chips holds each interface; take it over.
  if (libusb_kernel_driver_active(handle, interfaceNumber_) == 1) {
    const int detached = libusb_detach_kernel_driver(handle, interfaceNumber_);
    if (detached < 0 && detached != LIBUSB_ERROR_NOT_FOUND) return detached;
    detachedKernelDriver_ = detached == 0;
  }
  int result = libusb_claim_interface(handle, interfaceNumber_);
  if (result < 0) return result;
  claimed_ = true;
  if ((result = findEndpoints()) < 0) return result;

  auto reader = std::make_shared<Reader>();
  reader->self = reader;
  reader->interfaceNumber = interfaceNumber_;
  reader->handler = std::move(handler);
  if (!reader->transfer) return kGPITransportOtherError;
  reader->buffer.resize(static_cast<std::size_t>(inPacketSize_));
  libusb_fill_interrupt_transfer(reader->transfer, handle, inEndpoint_, reader->buffer.data(), inPacketSize_,
                                 &Reader::completed, reader.get(), 0);
  {
    std::lock_guard guard(reader->mutex);
    if ((result = reader->submitLocked()) < 0) return result;
  }
  reader_ = std::move(reader);
  return 0;
}

int UsbGPITransport::setOutputReport(std::uint8_t reportId, std::span<const std::uint8_t> report) {
  auto owned = WaitedTransfer::make();
  WaitedTransfer& waited = *owned;
  if (!waited.transfer) return kGPITransportOtherError;
  if (outEndpoint_ != 0) {
    waited.buffer.assign(report.begin(), report.end());
    libusb_fill_interrupt_transfer(waited.transfer, box_->handle(), outEndpoint_, waited.buffer.data(),
                                   static_cast<int>(waited.buffer.size()), nullptr, nullptr, 0);
  } else {
    waited.buffer.resize(LIBUSB_CONTROL_SETUP_SIZE + report.size());
    libusb_fill_control_setup(waited.buffer.data(), kClassToInterface,
                              kHidSetReport, kHidOutputReport | reportId, static_cast<std::uint16_t>(interfaceNumber_),
                              static_cast<std::uint16_t>(report.size()));
    std::memcpy(waited.buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, report.data(), report.size());
    libusb_fill_control_transfer(waited.transfer, box_->handle(), waited.buffer.data(), nullptr, nullptr, 0);
  }
  return waited.run();
}

int UsbGPITransport::getInputReport(std::uint8_t reportId, std::vector<std::uint8_t>& report, std::size_t maxLength) {
  auto owned = WaitedTransfer::make();
  WaitedTransfer& waited = *owned;
  if (!waited.transfer) return kGPITransportOtherError;
  waited.buffer.resize(LIBUSB_CONTROL_SETUP_SIZE + maxLength);
  libusb_fill_control_setup(waited.buffer.data(), kClassFromInterface, kHidGetReport,
                            kHidInputReport | reportId, static_cast<std::uint16_t>(interfaceNumber_),
                            static_cast<std::uint16_t>(maxLength));
  libusb_fill_control_transfer(waited.transfer, box_->handle(), waited.buffer.data(), nullptr, nullptr, 0);
  const int result = waited.run();
  if (result == 0) {
    const unsigned char* data = libusb_control_transfer_get_data(waited.transfer);
    report.assign(data, data + waited.transfer->actual_length);
  }
  return result;
}

void UsbGPITransport::close() {
  if (reader_) {
    reader_->closed = true;
    std::unique_lock lock(reader_->mutex);
    reader_->stopping = true;
    if (reader_->inFlight) {
      libusb_cancel_transfer(reader_->transfer);
      if (!platform::waitOnCurrentClock(lock, reader_->idle, kTransferLimit, [this] { return !reader_->inFlight; })) {
        // libusb still owns the transfer: keep the reader alive for good.
        new std::shared_ptr<Reader>(reader_);
      }
    }
    lock.unlock();
    reader_.reset();
  }
  if (claimed_) {
    libusb_release_interface(box_->handle(), interfaceNumber_);
    claimed_ = false;
  }
  if (detachedKernelDriver_) {
    libusb_attach_kernel_driver(box_->handle(), interfaceNumber_);
    detachedKernelDriver_ = false;
  }
}

}  // namespace control
