// Connecting, the state feed, label refresh, reconnecting and the shortcuts.
#include "control/sockets/CVNSocket.h"
#include "control/switchers/SwitcherConsole.h"
#include "control/switchers/TriCasterController.h"

#include <cstring>

namespace control {

namespace {
constexpr const char* kRegisterCommand = "<register name=\"NTK_states\" />\r";
}

void TriCasterController::connect() {
  if (isConnected_.get()) disconnect();
  shouldReconnect_ = true;
  reconnect_.cancel();
  isConnecting_.set(true);
  const std::weak_ptr<bool> alive = alive_;
  connectionQueue_->async([this, alive] {
    if (updateInputs()) {
      updateInputNames();
      startSwitcherMonitoring();
      return;
    }
    platform::DispatchQueue::main().async([this, alive] {
      if (!alive.expired()) retryConnectingToTheSwitcher();
    });
  });
}

void TriCasterController::disconnect() {
  // Only the operator's disconnect ends reconnecting; a lost feed does not.
  shouldReconnect_ = false;
  reconnect_.cancel();
  connectionQueue_->sync([this] {
    if (socket_) socket_->disconnect();
    socket_.reset();
  }, std::chrono::seconds(30));
  labelTimer_.reset();
  isConnected_.set(false);
  isConnecting_.set(false);
}

void TriCasterController::retryConnectingToTheSwitcher() {
  if (!shouldReconnect_) {
    isConnecting_.set(false);
    return;
  }
  const std::weak_ptr<bool> alive = alive_;
  reconnect_ = platform::DispatchQueue::main().after(kReconnectDelay, [this, alive] {
    if (!alive.expired() && shouldReconnect_) connect();
  });
}

bool TriCasterController::updateInputs() {
  const auto [user, password] = login();
  auto switcher = http_.XMLDocumentAtURL(urlForPath("/v1/dictionary?key=switcher"), user, password);
  if (!switcher.ok()) return false;
  auto tally = http_.XMLDocumentAtURL(urlForPath("/v1/dictionary?key=tally"), user, password);
  if (!tally.ok()) return false;
  std::vector<TriCasterInput> inputs = inputsFromDictionaries(*switcher.value(), *tally.value(), inputTypesToIgnore_);
  // An empty answer keeps the list the switcher gave before.
  if (!inputs.empty()) replaceInputs(std::move(inputs));
  return true;
}

void TriCasterController::updateInputNames() {
  const auto [user, password] = login();
  auto switcher = http_.XMLDocumentAtURL(urlForPath("/v1/dictionary?key=switcher"), user, password);
  if (!switcher.ok()) {
    switcherConsoleLog("Failed to update selected input of preview and program (%s)",
                 switcher.error().localizedDescription.c_str());
    switcherDidDisconnect();
    return;
  }
  std::map<std::string, std::string> labels;
  for (const pugi::xpath_node& node : switcher.value()->select_nodes("./switcher_update/inputs/physical_input")) {
    const pugi::xml_attribute number = node.node().attribute("physical_input_number");
    const pugi::xml_attribute iso = node.node().attribute("iso_label");
    if (number && iso) labels[number.value()] = iso.value();
  }
  std::lock_guard lock(inputsLock_);
  for (TriCasterInput& input : inputs_) {
    const auto found = labels.find(input.switcherInputName);
    if (found == labels.end() || found->second == input.isoLabel) continue;
    switcherConsoleLog("updating input iso label from %s to %s", input.isoLabel.c_str(), found->second.c_str());
    input.isoLabel = found->second;
  }
}

void TriCasterController::feedDidOpen() {
  auto command = std::make_shared<const Bytes>(kRegisterCommand, kRegisterCommand + std::strlen(kRegisterCommand));
  socket_->writeData(command, -1, 0);
  socket_->readDataWithTimeout(-1, 0);
  const std::weak_ptr<bool> alive = alive_;
  platform::DispatchQueue::main().async([this, alive] {
    if (alive.expired()) return;
    isConnecting_.set(false);
    isConnected_.set(true);
    labelTimer_ = platform::Timer::scheduled(*connectionQueue_, kLabelRefreshInterval, platform::Timer::Mode::Repeating,
                                             [this] { updateInputNames(); });
    if (delegate_) delegate_->triCasterDidConnect(*this);
  });
}

void TriCasterController::feedDidReceive(std::string_view bytes) {
  TriCasterFeedAssembler::Result result = assembler_.append(bytes);
  std::string console;
  std::vector<StateChange> changes;
  changes.reserve(result.messages.size());
  for (std::string& message : result.messages) changes.push_back(readStateMessage(message, console));
  switcherConsoleWrite(console);
  applyStateChanges(std::move(changes));
  if (result.overflowed) {
    switcherConsoleLog("TriCaster state message past %zu bytes dropped; reconnecting",
                 TriCasterFeedAssembler::kMaximumMessageSize);
    switcherDidDisconnect();
  }
}

// Connection queue.
void TriCasterController::switcherDidDisconnect() {
  if (socket_) socket_->disconnect();
  socket_.reset();
  assembler_.reset();
  const std::weak_ptr<bool> alive = alive_;
  platform::DispatchQueue::main().async([this, alive] {
    if (alive.expired()) return;
    labelTimer_.reset();
    const bool wasConnected = isConnected_.get();
    isConnected_.set(false);
    if (wasConnected && delegate_) delegate_->triCasterDidDisconnect(*this);
    retryConnectingToTheSwitcher();
  });
}

void TriCasterController::postShortcut(const std::string& body, bool synchronously, bool* succeeded) {
  platform::URLRequest request;
  request.method = "POST";
  request.url = urlForPath("/v1/shortcut");
  request.headers.emplace_back("Content-Type", "text/xml");
  request.body = body;
  const auto [user, password] = login();
  if (!synchronously) {
    http_.requestData(std::move(request), user, password, [](platform::Result<platform::URLResponse>) {});
    return;
  }
  const auto reply = http_.synchronouslyRequestData(std::move(request), user, password);
  if (succeeded) *succeeded = reply.ok() && reply.value().statusCode == 200;
}

bool TriCasterController::selectInputAtIndex(std::uint64_t input, std::uint64_t output, bool synchronously) {
  const auto chosen = inputWithIndex(input);
  if (!chosen || output > 1) return false;
  const std::string body = std::string("<shortcut name=\"main_") + (output == 0 ? 'a' : 'b') +
                           "_row_named_input\" value=\"" + chosen->switcherInputName + "\" />";
  bool succeeded = true;
  postShortcut(body, synchronously, &succeeded);
  return succeeded;
}

void TriCasterController::programSet(std::uint64_t input) {
  if (input == programInputIndex_) return;
  selectInputAtIndex(input, 0, false);
  programInputIndex_ = input;
}

void TriCasterController::previewSet(std::uint64_t input) {
  if (input == previewInputIndex_) return;
  selectInputAtIndex(input, 1, false);
  previewInputIndex_ = input;
}

void TriCasterController::cut() { postShortcut("<shortcut name=\"main_take\"/>", false, nullptr); }

}  // namespace control
