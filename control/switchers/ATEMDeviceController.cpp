// Connecting, monitoring, losing the switcher and retrying.

#include "control/switchers/ATEMDeviceController.h"

#include <arpa/inet.h>

#include "control/switchers/ATEMSwitcherDriver.h"
#include "foundation/CVNLogController.h"

namespace control {

ATEMDeviceController::ATEMDeviceController()
    : sink_(std::make_shared<ATEMEventSink>(this)),
      switcherMonitor_(ComPtr<SwitcherMonitor>::adopt(new SwitcherMonitor(sink_))),
      mixEffectBlockMonitor_(ComPtr<MixEffectBlockMonitor>::adopt(new MixEffectBlockMonitor(sink_))) {}

ATEMDeviceController::~ATEMDeviceController() {
  lifetime_->alive = false;
  retry_.cancel();
  sink_->close();
  // Work already queued finishes first, so nothing registers after the stop.
  if (!connectionQueue_.sync([this] { stopSwitcherMonitoring(); }, std::chrono::seconds(10))) {
    stopSwitcherMonitoring();
  }
}

void ATEMDeviceController::log(std::uint32_t level, bool show, const std::string& message) const {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(level, show, message);
}

void ATEMDeviceController::postToMain(std::function<void()> task) {
  platform::DispatchQueue::main().async([lifetime = lifetime_, task = std::move(task)] {
    // The controller is destroyed on the main thread, so no lock is needed here.
    if (lifetime->alive) task();
  });
}

std::string ATEMDeviceController::switcherName() const {
  std::lock_guard guard(stateMutex_);
  return switcherName_;
}

void ATEMDeviceController::setSwitcherName(std::string name) {
  std::lock_guard guard(stateMutex_);
  switcherName_ = std::move(name);
}

std::string ATEMDeviceController::switcherIPAddress() const {
  std::lock_guard guard(stateMutex_);
  return switcherIPAddress_;
}

void ATEMDeviceController::setSwitcherIPAddress(std::string address) {
  std::lock_guard guard(stateMutex_);
  switcherIPAddress_ = std::move(address);
}

ATEMDeviceController::Session ATEMDeviceController::session() const {
  std::lock_guard guard(stateMutex_);
  return session_;
}

std::string ATEMDeviceController::stringWithOSType(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text.push_back(static_cast<char>((code >> shift) & 0xFF));
  return text;
}

bool ATEMDeviceController::validateIPAddress(const std::string& address) {
  if (address.size() < 7) return false;
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, address.c_str(), buffer) == 1 || inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

bool ATEMDeviceController::shouldRetry() const {
  return shouldReconnect_ && shouldBeConnected_ && !isConnected_.get();
}

void ATEMDeviceController::connect() {
  log(2, false, "ATEMPlugin: Connecting to ATEM switcher");
  shouldBeConnected_ = true;
  ComPtr<atem::IBMDSwitcherDiscovery> discovery = makeSwitcherDiscovery();
  if (!discovery) {
    connectionQueue_.async([this] {
      shouldReconnect_ = false;
      switcherDidFailToConnectWithReason(kATEMDriversNotInstalled);
    });
    return;
  }
  // Set here, before the queue can report the attempt's end.
  isConnecting_.set(true);
  connectionQueue_.async([this, discovery] {
    ComPtr<atem::IBMDSwitcher> switcher;
    atem::FourCharCode failure = 0;
    const std::string address = switcherIPAddress();
    if (discovery->ConnectTo(address.c_str(), switcher.put(), &failure) < 0 || !switcher) {
      std::string reason = kATEMUnknownFailure;
      if (failure == atem::kConnectFailureNoResponse) {
        reason = kATEMNoResponse;
      } else if (failure == atem::kConnectFailureIncompatibleFirmware) {
        shouldReconnect_ = false;
        reason = kATEMIncompatibleFirmware;
      }
      switcherDidFailToConnectWithReason(reason);
      return;
    }
    {
      std::lock_guard guard(stateMutex_);
      session_.switcher = std::move(switcher);
    }
    switcherDidConnect();
  });
}

void ATEMDeviceController::disconnect() {
  log(2, false, "ATEMPlugin: Disconnecting from ATEM switcher");
  shouldBeConnected_ = false;
  connectionQueue_.async([this] { stopSwitcherMonitoring(); });
}

void ATEMDeviceController::switcherDidConnect() {
  log(2, false, "ATEMPlugin: successfully connected to ATEM switcher");
  // A monitoring that cannot start would leave the controller connecting for
  // ever and block every retry: give the attempt up and try again.
  if (!startSwitcherMonitoring()) switcherDidFailToConnectWithReason(kATEMUnknownFailure);
}

void ATEMDeviceController::switcherDidFailToConnectWithReason(const std::string& reason) {
  stopSwitcherMonitoring([this, reason] {
    log(1, true, "ATEMPlugin: could not connect to ATEM switcher (" + reason + ")");
    if (shouldRetry()) retryConnectingToTheSwitcher();
  });
}

void ATEMDeviceController::switcherDidDisconnect() {
  ComPtr<atem::IBMDSwitcher> lost = session().switcher;
  // A late event of a connection that is already gone.
  if (!lost) return;
  connectionQueue_.async([this, lost] {
    // Held, the lost switcher cannot share its address with a newer connection's.
    if (session().switcher.get() != lost.get()) return;
    stopSwitcherMonitoring([this] {
      log(1, true, "ATEMPlugin: lost connection to the ATEM switcher");
      if (shouldRetry()) retryConnectingToTheSwitcher();
    });
  });
}

void ATEMDeviceController::retryConnectingToTheSwitcher() {
  retry_.cancel();
  // On the main thread, like connect() and the destructor.
  retry_ = platform::DispatchQueue::main().after(kATEMRetryDelay, [this, lifetime = lifetime_] {
    if (!lifetime->alive) return;
    if (shouldBeConnected_ && !isConnecting_.get()) connect();
  });
}

bool ATEMDeviceController::startSwitcherMonitoring() {
  Session current = session();
  if (!current.switcher) {
    log(1, true, "ATEMPlugin: mSwitcher = NULL");
    return false;
  }
  char name[256];
  if (current.switcher->GetProductName(name, sizeof name) != atem::S_OK) {
    log(1, true, "ATEMPlugin: Could not get switcher product name");
    return false;
  }
  postToMain([this, product = std::string(name)] { setSwitcherName(product); });
  current.switcher->AddCallback(switcherMonitor_.get());

  if (ComPtr<atem::IBMDSwitcherInputIterator> inputs = makeInputIterator()) {
    ComPtr<atem::IBMDSwitcherInput> input;
    while (inputs->Next(input.put()) == atem::S_OK && input) {
      auto monitor = ComPtr<InputMonitor>::adopt(new InputMonitor(input, sink_));
      atem::FourCharCode portType = 0;
      ComPtr<atem::IBMDSwitcherInputAux> aux;
      if (input->GetPortType(&portType) == atem::S_OK && portType == atem::kPortTypeAuxOutput) {
        aux = ComPtr<atem::IBMDSwitcherInputAux>::query(input.get(), atem::IID_IBMDSwitcherInputAux);
      }
      std::lock_guard guard(stateMutex_);
      if (aux) inputAuxMonitors_.push_back(ComPtr<InputAuxMonitor>::adopt(new InputAuxMonitor(aux, sink_)));
      inputMonitors_.push_back(std::move(monitor));
    }
  }

  ComPtr<atem::IBMDSwitcherMixEffectBlockIterator> blocks;
  if (current.switcher->CreateIterator(atem::IID_IBMDSwitcherMixEffectBlockIterator,
                                       reinterpret_cast<void**>(blocks.put())) < 0 ||
      !blocks) {
    log(1, true, "ATEMPlugin: Could not create IBMDSwitcherMixEffectBlockIterator iterator");
    return false;
  }
  ComPtr<atem::IBMDSwitcherMixEffectBlock> block;
  if (blocks->Next(block.put()) != atem::S_OK || !block) {
    log(1, true, "ATEMPlugin: Could not get the first IBMDSwitcherMixEffectBlock");
    return false;
  }
  block->AddCallback(mixEffectBlockMonitor_.get());
  {
    std::lock_guard guard(stateMutex_);
    session_.mixEffectBlock = block;
  }

  ComPtr<atem::IBMDSwitcherDownstreamKeyIterator> keyers;
  if (current.switcher->CreateIterator(atem::IID_IBMDSwitcherDownstreamKeyIterator,
                                       reinterpret_cast<void**>(keyers.put())) < 0 ||
      !keyers) {
    log(1, true, "ATEMPlugin: Could not get the IID_IBMDSwitcherDownstreamKeyIterator");
    return false;
  }
  ComPtr<atem::IBMDSwitcherDownstreamKey> keyer;
  for (std::int32_t index = 0; keyers->Next(keyer.put()) == atem::S_OK && keyer; ++index) {
    auto monitor = ComPtr<DownstreamKeyerMonitor>::adopt(new DownstreamKeyerMonitor(keyer, index, sink_));
    std::lock_guard guard(stateMutex_);
    keyerMonitors_.push_back(std::move(monitor));
  }

  auto pool = ComPtr<atem::IBMDSwitcherMacroPool>::query(current.switcher.get(), atem::IID_IBMDSwitcherMacroPool);
  if (!pool) {
    log(1, true, "ATEMPlugin: Could not get the IID_IBMDSwitcherMacroPool");
    return false;
  }
  {
    std::lock_guard guard(stateMutex_);
    session_.macroPool = pool;
  }

  postToMain([this] {
    const bool wasConnected = isConnected_.get();
    updateInputNames();
    updateOutputNames();
    updateDownstreamKeyerNames();
    updateProgramState();
    updatePreviewState();
    updateAuxState();
    updateMacroNames();
    if (!wasConnected && delegate_) delegate_->ATEMDeviceDidConnect(*this);
    isConnecting_.set(false);
    isConnected_.set(true);
  });
  return true;
}

void ATEMDeviceController::stopSwitcherMonitoring(std::function<void()> thenOnMain) {
  // Events of this connection that are still on their way are dropped.
  sink_->beginNewConnection();
  Session old;
  std::vector<ComPtr<InputMonitor>> inputs;
  std::vector<ComPtr<InputAuxMonitor>> auxes;
  std::vector<ComPtr<DownstreamKeyerMonitor>> keyers;
  {
    std::lock_guard guard(stateMutex_);
    old = std::exchange(session_, Session{});
    inputs.swap(inputMonitors_);
    auxes.swap(inputAuxMonitors_);
    keyers.swap(keyerMonitors_);
  }
  // The driver is called without our lock: its threads may be delivering.
  for (auto& monitor : inputs) monitor->detach();
  for (auto& monitor : auxes) monitor->detach();
  for (auto& monitor : keyers) monitor->detach();
  if (old.mixEffectBlock) old.mixEffectBlock->RemoveCallback(mixEffectBlockMonitor_.get());
  if (old.switcher) old.switcher->RemoveCallback(switcherMonitor_.get());
  // Posted last and as one task: whoever sees the controller idle also sees
  // its callbacks gone and what follows the stop.
  postToMain([this, thenOnMain = std::move(thenOnMain)] {
    isConnecting_.set(false);
    isConnected_.set(false);
    setSwitcherName("");
    if (thenOnMain) thenOnMain();
  });
}

}  // namespace control
