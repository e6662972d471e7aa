#include "control/switchers/TriCasterController.h"

#include <array>
#include <charconv>
#include <string_view>

#include "control/sockets/CVNSocket.h"
#include "control/switchers/SwitcherConsole.h"
#include "platform/Bundle.h"

namespace control {

namespace {

// The "value" of each row state a message names exactly once; one pass over
// the message instead of a query per name (the feed can carry thousands).
struct RowStates {
  enum Row { kProgramRow, kProgramName, kPreviewRow, kPreviewName, kRows };
  std::array<int, kRows> count{};
  std::array<const char*, kRows> value{};

  explicit RowStates(const pugi::xml_document& document) {
    static constexpr std::array<std::string_view, kRows> kNames = {
        "main_a_row", "main_a_row_named_input", "main_b_row", "main_b_row_named_input"};
    for (const pugi::xml_node state : document.child("shortcut_states").children("shortcut_state")) {
      const std::string_view name = state.attribute("name").value();
      for (std::size_t row = 0; row < kRows; ++row) {
        if (name != kNames[row]) continue;
        ++count[row];
        value[row] = state.attribute("value").value();
      }
    }
  }
  std::optional<std::string> single(Row row) const {
    if (count[row] != 1) return std::nullopt;
    return std::string(value[row]);
  }
};

}  // namespace

// Forwards the feed socket's events to the controller until it is detached.
class TriCasterController::Feed final : public CVNSocketDelegate {
 public:
  explicit Feed(TriCasterController* owner) : owner_(owner) {}
  void detach() {
    std::lock_guard lock(lock_);
    owner_ = nullptr;
  }
  void socketDidConnectToHost(const std::shared_ptr<CVNSocket>&, const std::string&, std::uint16_t) override {
    if (auto* owner = current()) owner->feedDidOpen();
  }
  void socketDidReadData(const std::shared_ptr<CVNSocket>& socket, const CVNSocketData& data,
                         std::int64_t) override {
    auto* owner = current();
    if (!owner) return;
    owner->feedDidReceive(data.view());
    if (owner->socket_ == socket) socket->readDataWithTimeout(-1, 0);
  }
  void socketDidDisconnect(const std::shared_ptr<CVNSocket>& socket, const std::optional<platform::Error>&) override {
    auto* owner = current();
    if (owner && owner->socket_ == socket) owner->switcherDidDisconnect();
  }

 private:
  TriCasterController* current() {
    std::lock_guard lock(lock_);
    return owner_;
  }
  std::mutex lock_;
  TriCasterController* owner_;
};

TriCasterController::TriCasterController(platform::Keychain* keychain)
    : keychain_(keychain ? keychain : &platform::Keychain::standard()),
      inputTypesToIgnore_(defaultInputsToIgnore()),
      feed_(std::make_shared<Feed>(this)),
      connectionQueue_(std::make_shared<platform::SerialQueue>(kConnectionQueueLabel)) {}

TriCasterController::~TriCasterController() {
  // A poll in progress finishes (its request ends at its short time-out).
  stopping_ = true;
  updateQueue_.reset();
  labelTimer_.reset();
  reconnect_.cancel();
  feed_->detach();
  connectionQueue_->sync([this] {
    if (socket_) socket_->disconnect();
    socket_.reset();
  }, std::chrono::seconds(30));
  connectionQueue_.reset();
}

std::uint64_t TriCasterController::defaultInputsToIgnore() {
  const auto bundle = platform::Bundle::main();
  const std::string identifier = bundle ? bundle->bundleIdentifier() : std::string();
  if (identifier.rfind("com.dirarovazovo.Quillmark", 0) == 0 ||
      identifier.rfind("com.dirarovazovo.VantelioVideo", 0) == 0) {
    return kTriCasterInputTypePreview | kTriCasterInputTypeMixEffectPreview | kTriCasterInputTypeMixEffectFollow |
           kTriCasterInputTypePreviz | kTriCasterInputTypeWebFollow;
  }
  return 0;
}

std::vector<std::pair<std::string, std::string>> TriCasterController::dictionaryRepresentation() const {
  return {{"TriCasterIPAddress", switcherIPAddress_}, {"SwitcherManager", "TriCasterSwitcherManager"}};
}

std::string TriCasterController::urlForPath(const std::string& path) const {
  std::string host = switcherIPAddress_;
  if (switcherHTTPPort_ != 80) host += ":" + std::to_string(switcherHTTPPort_);
  return "http://" + host + path;
}

std::pair<std::string, std::string> TriCasterController::login() const {
  const auto info = CVNAuthenticatedURLSessionController::keychainLoginInfoForServer(*keychain_, switcherIPAddress_);
  if (!info) return {};
  const auto user = info->find("user");
  const auto password = info->find("password");
  return {user == info->end() ? "" : user->second, password == info->end() ? "" : password->second};
}

std::vector<TriCasterInput> TriCasterController::inputs() const {
  std::lock_guard lock(inputsLock_);
  return inputs_;
}

std::optional<TriCasterInput> TriCasterController::inputWithIdentifier(const std::string& name) const {
  std::lock_guard lock(inputsLock_);
  for (const TriCasterInput& input : inputs_) {
    if (equalsIgnoringCase(input.switcherInputName, name)) return input;
  }
  return std::nullopt;
}

std::optional<TriCasterInput> TriCasterController::inputWithIndex(std::uint64_t index) const {
  std::lock_guard lock(inputsLock_);
  if (index >= inputs_.size()) return std::nullopt;
  return inputs_[index];
}

void TriCasterController::replaceInputs(std::vector<TriCasterInput> inputs) {
  for (std::size_t i = 0; i < inputs.size(); ++i) inputs[i].index = i;
  std::lock_guard lock(inputsLock_);
  inputs_ = std::move(inputs);
}

void TriCasterController::setInputFlags(std::uint64_t index, bool program) {
  std::lock_guard lock(inputsLock_);
  if (index >= inputs_.size()) return;
  if (program) {
    inputs_[index].isOnProgramTally = inputs_[index].isSelectedInputOfProgram = true;
  } else {
    inputs_[index].isOnPreviewTally = inputs_[index].isSelectedInputOfPreview = true;
  }
}

std::vector<TriCasterInput> TriCasterController::inputsFromDictionaries(const pugi::xml_document& switcher,
                                                                        const pugi::xml_document& tally,
                                                                        std::uint64_t inputTypesToIgnore) {
  const pugi::xpath_node_set physical = switcher.select_nodes("./switcher_update/inputs/physical_input");
  const pugi::xpath_node_set simulated = switcher.select_nodes("./switcher_update/inputs/simulated_input");
  // The input whose number attribute equals the tally name, ignoring case.
  auto match = [](const pugi::xpath_node_set& nodes, const char* numberAttribute, const std::string& name,
                  std::optional<std::string>& inputName, std::optional<std::string>& label) {
    for (const pugi::xpath_node& node : nodes) {
      const pugi::xml_attribute number = node.node().attribute(numberAttribute);
      if (!number || !equalsIgnoringCase(number.value(), name)) continue;
      inputName = number.value();
      const pugi::xml_attribute iso = node.node().attribute("iso_label");
      label = iso ? iso.value() : number.value();
      return;
    }
  };
  std::vector<TriCasterInput> inputs;
  for (const pugi::xpath_node& column : tally.select_nodes("./tally/column")) {
    const std::string name = column.node().attribute("name").value();
    const std::int64_t switcherIndex = column.node().attribute("index").as_llong();
    const std::uint64_t type = typeOfInputWithTallyName(name);
    if (type & inputTypesToIgnore) continue;
    std::optional<std::string> inputName;
    std::optional<std::string> label;
    match(physical, "physical_input_number", name, inputName, label);
    match(simulated, "simulated_input_number", name, inputName, label);
    TriCasterInput input(type, name, inputName, label, switcherIndex);
    if (type == kTriCasterInputTypeBlack) {
      inputs.insert(inputs.begin(), std::move(input));
    } else {
      inputs.push_back(std::move(input));
    }
  }
  return inputs;
}

TriCasterController::StateChange TriCasterController::readStateMessage(std::string& message, std::string& console) {
  char digits[24];
  const auto written = std::to_chars(std::begin(digits), std::end(digits), message.size());
  console.append("DATA: ").append(digits, written.ptr).push_back('\n');
  StateChange change;
  if (!feedDocument_.load_buffer_inplace(message.data(), message.size())) return change;
  const RowStates states(feedDocument_);
  auto find = [&](RowStates::Row row, RowStates::Row namedRow) -> std::optional<TriCasterInput> {
    if (const auto position = states.single(row)) {
      return inputWithIndex(static_cast<std::uint64_t>(std::atoll(position->c_str()) + 1));
    }
    if (const auto name = states.single(namedRow)) return inputWithIdentifier(*name);
    return std::nullopt;
  };
  change.program = find(RowStates::kProgramRow, RowStates::kProgramName);
  if (change.program) setInputFlags(change.program->index, true);
  change.preview = find(RowStates::kPreviewRow, RowStates::kPreviewName);
  if (change.preview) setInputFlags(change.preview->index, false);
  return change;
}

void TriCasterController::applyStateChanges(std::vector<StateChange> changes) {
  std::erase_if(changes, [](const StateChange& change) { return !change.program && !change.preview; });
  if (changes.empty()) return;
  // One main-thread task per read, in the order the messages came.
  const std::weak_ptr<bool> alive = alive_;
  platform::DispatchQueue::main().async([this, alive, changes = std::move(changes)] {
    if (alive.expired()) return;
    std::string console;
    for (const StateChange& change : changes) {
      if (change.program) programDidChange(*change.program, console);
      if (change.preview) {
        console += "Tricaster: Preview: " + change.preview->identifier() + "\n";
        previewInputIndex_ = change.preview->index;
      }
    }
    switcherConsoleWrite(console);
  });
}

void TriCasterController::processReceivedData(const std::string& message) {
  std::string console;
  std::vector<StateChange> changes;
  std::string text = message;
  changes.push_back(readStateMessage(text, console));
  switcherConsoleWrite(console);
  applyStateChanges(std::move(changes));
}

void TriCasterController::programDidChange(const TriCasterInput& input, std::string& console) {
  console += "Tricaster: Program: " + input.identifier() + "\n";
  if (input.index == programInputIndex_) return;
  programInputIndex_ = input.index;
  if (equalsIgnoringCase(input.switcherInputName, identifierOfClipPlayingInput_)) {
    isPlayingAClip_ = true;
    if (delegate_) delegate_->triCasterTriggeredPlaybackStartForDevice(*this);
  } else if (isPlayingAClip_) {
    isPlayingAClip_ = false;
    if (delegate_) delegate_->triCasterTriggeredPlaybackStopForDevice(*this);
  }
}

void TriCasterController::startSwitcherMonitoring() {
  assembler_.reset();
  socket_ = CVNSocket::create(std::weak_ptr<CVNSocketDelegate>(feed_), connectionQueue_, nullptr);
  const platform::Status connecting =
      socket_->connectToHost(switcherIPAddress_, static_cast<std::uint16_t>(switcherPortNumber_), 10.0);
  if (!connecting.ok()) switcherDidDisconnect();
}

}  // namespace control
