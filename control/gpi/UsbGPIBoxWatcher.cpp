#include "control/gpi/UsbGPIBoxWatcher.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <atomic>

#include "control/gpi/UsbGPITransport.h"
#include "foundation/CVNLogController.h"
#include "platform/DispatchQueue.h"

namespace control {

struct UsbGPIBoxWatcher::State {
  std::shared_ptr<UsbContext> context;
  Events events;  // set once on the main thread before watching starts
  std::weak_ptr<State> self;
  libusb_hotplug_callback_handle hotplug = 0;
  bool watching = false;
  std::mutex mutex;
  std::map<libusb_device*, std::vector<std::shared_ptr<UsbGPITransport>>> boxes;  // guarded by mutex
  // Last member: destroyed first, while the fields its tasks use still exist.
  std::unique_ptr<platform::SerialQueue> queue =
      std::make_unique<platform::SerialQueue>("com.dirarovazovo.GPIBoxes", 1024);

  static int LIBUSB_CALL hotplugEvent(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                      void* userData) {
    auto* state = static_cast<State*>(userData);
    // Opening a device inside libusb's callback is not allowed: do it on the queue.
    libusb_ref_device(device);
    const bool arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
    if (!state->queue->async([state, device, arrived] {
          if (arrived) {
            state->arrived(device);
          } else {
            state->left(device);
          }
          libusb_unref_device(device);
        })) {
      libusb_unref_device(device);
    }
    return 0;
  }

  void arrived(libusb_device* device) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) < 0) return;
    if (descriptor.idVendor != kTrelvaneVendorID ||
        std::find(std::begin(kTrelvaneProductIDs), std::end(kTrelvaneProductIDs), descriptor.idProduct) ==
            std::end(kTrelvaneProductIDs)) {
      return;
    }
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(device, &handle);
    if (opened < 0) {
      foundation::CVNLogController::sharedLogController().logMessageWithLevel(
          1, false, "Trelvane: Cannot open the GPI box on USB (%s)", libusb_strerror(opened));
      return;
    }
    auto box = std::make_shared<UsbBox>(context, handle);
    unsigned char serial[128] = {};
    // A box without a serial number cannot be told apart from another: ignored.
    if (descriptor.iSerialNumber == 0 ||
        libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial, sizeof serial - 1) <= 0) {
      return;
    }
    std::vector<std::shared_ptr<UsbGPITransport>> interfaces{std::make_shared<UsbGPITransport>(box, 0),
                                                             std::make_shared<UsbGPITransport>(box, 1)};
    {
      std::lock_guard guard(mutex);
      libusb_ref_device(device);
      boxes[device] = interfaces;
    }
    const std::int32_t type = trelvaneDeviceTypeForProduct(descriptor.idProduct);
    platform::DispatchQueue::main().async(
        [weak = self, interfaces, type, serialNumber = std::string(reinterpret_cast<char*>(serial))] {
          auto state = weak.lock();
          if (!state || !state->events.added) return;
          for (const auto& interface : interfaces) state->events.added(interface, type, serialNumber);
        });
  }

  void left(libusb_device* device) {
    std::vector<std::shared_ptr<UsbGPITransport>> interfaces;
    {
      std::lock_guard guard(mutex);
      auto found = boxes.find(device);
      if (found == boxes.end()) return;
      interfaces = std::move(found->second);
      boxes.erase(found);
      libusb_unref_device(device);
    }
    platform::DispatchQueue::main().async([weak = self, interfaces] {
      auto state = weak.lock();
      if (!state || !state->events.removed) return;
      for (const auto& interface : interfaces) state->events.removed(interface.get());
    });
  }
};

UsbGPIBoxWatcher::UsbGPIBoxWatcher() : state_(std::make_shared<State>()) { state_->self = state_; }

UsbGPIBoxWatcher::~UsbGPIBoxWatcher() {
  if (state_->watching) libusb_hotplug_deregister_callback(state_->context->get(), state_->hotplug);
  state_->queue.reset();
  std::lock_guard guard(state_->mutex);
  for (auto& [device, interfaces] : state_->boxes) libusb_unref_device(device);
  state_->boxes.clear();
}

void UsbGPIBoxWatcher::start(Events events) {
  state_->events = std::move(events);
  auto& log = foundation::CVNLogController::sharedLogController();
  std::string problem;
  state_->context = UsbContext::create(problem);
  if (!state_->context) {
    log.logMessageWithLevel(1, false, "Trelvane: No USB access (%s): GPI boxes are not watched", problem.c_str());
    return;
  }
  if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    log.logMessageWithLevel(1, false, "Trelvane: No USB access (%s): GPI boxes are not watched",
                            "no hot-plug support");
    return;
  }
  const int registered = libusb_hotplug_register_callback(
      state_->context->get(),
      static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
      LIBUSB_HOTPLUG_ENUMERATE, kTrelvaneVendorID, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
      &State::hotplugEvent, state_.get(), &state_->hotplug);
  if (registered < 0) {
    log.logMessageWithLevel(1, false, "Trelvane: No USB access (%s): GPI boxes are not watched",
                            libusb_strerror(registered));
    return;
  }
  state_->watching = true;
}

}  // namespace control
