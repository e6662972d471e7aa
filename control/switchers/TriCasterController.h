#pragma once
// TriCasterController: follows and drives a TriCaster production switcher
// over its HTTP interface (XML dictionaries read, shortcuts posted) and its
// TCP state feed (zero-terminated XML messages with the program and preview
// selections). When the clip player input goes on program it tells its
// delegate to start playback, when it leaves, to stop.
//
// The login comes from the keychain (service = switcher address); without
// one, requests go unauthenticated. Reconnects 5 s after a loss until the
// operator disconnects. Owned by the application delegate; main thread
// except where noted (HTTP reads and the feed run on the connection queue).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "control/devicehttp/CVNAuthenticatedURLSessionController.h"
#include "control/switchers/TriCasterFeedAssembler.h"
#include "control/switchers/TriCasterInput.h"
#include "platform/DispatchQueue.h"
#include "platform/Keychain.h"
#include "platform/Observable.h"
#include "platform/Timer.h"

namespace control {

class CVNSocket;
class TriCasterController;

// Main thread.
class TriCasterController_Delegate {
 public:
  virtual ~TriCasterController_Delegate() = default;
  virtual void triCasterDidConnect(TriCasterController& device) = 0;
  virtual void triCasterDidDisconnect(TriCasterController& device) = 0;
  virtual void triCasterLabelOfInputAtIndex(std::int64_t index, const std::string& label,
                                            TriCasterController& device) = 0;
  virtual void triCasterConfigurationDidChangeForDevice(TriCasterController& device) = 0;
  virtual void triCasterSelectedInput(std::int32_t input, std::int32_t output, TriCasterController& device) = 0;
  virtual void triCasterTriggeredPlaybackStartForDevice(TriCasterController& device) = 0;
  virtual void triCasterTriggeredPlaybackStopForDevice(TriCasterController& device) = 0;
};

class TriCasterController {
 public:
  static constexpr std::uint64_t kNotFound = 0x7FFFFFFFFFFFFFFF;
  static constexpr const char* kConnectionQueueLabel = "com.dirarovazovo.TriCasterControllerConnection";
  static constexpr const char* kUpdateQueueLabel = "com.dirarovazovo.TriCasterControllerUpdate";
  static constexpr platform::Clock::Duration kReconnectDelay = std::chrono::seconds(5);
  static constexpr platform::Clock::Duration kLabelRefreshInterval = std::chrono::seconds(3);
  static constexpr platform::Clock::Duration kStatePollTimeout = std::chrono::seconds(2);

  // `keychain` (not owned) holds the switcher logins; the user's store when null.
  explicit TriCasterController(platform::Keychain* keychain = nullptr);
  ~TriCasterController();
  TriCasterController(const TriCasterController&) = delete;
  TriCasterController& operator=(const TriCasterController&) = delete;

  static std::uint64_t defaultInputsToIgnore();
  // "TriCasterIPAddress" and "SwitcherManager".
  std::vector<std::pair<std::string, std::string>> dictionaryRepresentation() const;

  void setDelegate(TriCasterController_Delegate* delegate) { delegate_ = delegate; }
  const std::string& switcherName() const { return switcherName_; }
  const std::string& switcherIPAddress() const { return switcherIPAddress_; }
  void setSwitcherIPAddress(std::string address) { switcherIPAddress_ = std::move(address); }
  std::int64_t switcherPortNumber() const { return switcherPortNumber_; }
  void setSwitcherPortNumber(std::int64_t port) { switcherPortNumber_ = port; }
  std::int64_t switcherHTTPPort() const { return switcherHTTPPort_; }
  void setSwitcherHTTPPort(std::int64_t port) { switcherHTTPPort_ = port; }
  const std::string& identifierOfClipPlayingInput() const { return identifierOfClipPlayingInput_; }
  void setIdentifierOfClipPlayingInput(std::string identifier) { identifierOfClipPlayingInput_ = std::move(identifier); }
  std::uint64_t inputTypesToIgnore() const { return inputTypesToIgnore_; }
  void setInputTypesToIgnore(std::uint64_t types) { inputTypesToIgnore_ = types; }

  // Observable (main thread sets them).
  platform::Observable<bool>& isConnected() { return isConnected_; }
  platform::Observable<bool>& isConnecting() { return isConnecting_; }
  bool isPlayingAClip() const { return isPlayingAClip_; }
  std::uint64_t programInputIndex() const { return programInputIndex_; }
  std::uint64_t previewInputIndex() const { return previewInputIndex_; }

  void connect();
  // The operator's disconnect: no reconnecting until the next connect.
  void disconnect();

  // Copies under the list's lock (any thread).
  std::vector<TriCasterInput> inputs() const;
  std::optional<TriCasterInput> inputWithIdentifier(const std::string& name) const;
  std::optional<TriCasterInput> inputWithIndex(std::uint64_t index) const;

  bool selectInputAtIndex(std::uint64_t input, std::uint64_t output, bool synchronously);
  void programSet(std::uint64_t input);
  void previewSet(std::uint64_t input);
  void cut();

  // The input list from the two dictionaries: black first, ignored types left
  // out, input numbers and labels from the physical or simulated inputs.
  static std::vector<TriCasterInput> inputsFromDictionaries(const pugi::xml_document& switcher,
                                                            const pugi::xml_document& tally,
                                                            std::uint64_t inputTypesToIgnore);
  // One state-feed message (connection queue).
  void processReceivedData(const std::string& message);
  // Bytes read from the state feed: every message they complete, with one
  // console write and one main-thread task for the lot (connection queue).
  void feedDidReceive(std::string_view bytes);

  // Tally polling, which nothing starts (the state feed is the live path).
  // Blocking; never on the main thread. updateTallies reads the tally
  // dictionary once and returns true when that failed.
  // updateProgramAndPreviewStates polls on the update queue until an answer
  // is empty or not XML (false) or the controller goes away.
  bool updateTallies();
  bool updateProgramAndPreviewStates();

 private:
  class Feed;
  std::string urlForPath(const std::string& path) const;
  std::pair<std::string, std::string> login() const;
  void replaceInputs(std::vector<TriCasterInput> inputs);
  void setInputFlags(std::uint64_t index, bool program);
  bool updateInputs();
  void updateInputNames();
  void startSwitcherMonitoring();
  void feedDidOpen();
  void switcherDidDisconnect();
  void retryConnectingToTheSwitcher();
  // The inputs a state message puts on program and preview.
  struct StateChange {
    std::optional<TriCasterInput> program;
    std::optional<TriCasterInput> preview;
  };
  // Parses in place: the message's bytes are the document's text.
  StateChange readStateMessage(std::string& message, std::string& console);
  void applyStateChanges(std::vector<StateChange> changes);
  void programDidChange(const TriCasterInput& input, std::string& console);
  // Main thread: a tally column's flags; `selects` also moves the program and
  // preview indexes and the selection flags.
  void applyTally(std::uint64_t index, bool onProgram, bool onPreview, bool selects);
  void postShortcut(const std::string& body, bool synchronously, bool* succeeded);

  TriCasterController_Delegate* delegate_ = nullptr;
  platform::Keychain* keychain_;
  std::string switcherName_;
  std::string switcherIPAddress_;
  std::int64_t switcherPortNumber_ = 5951;
  std::int64_t switcherHTTPPort_ = 80;
  std::string identifierOfClipPlayingInput_;
  std::uint64_t inputTypesToIgnore_;
  mutable std::mutex inputsLock_;
  std::vector<TriCasterInput> inputs_;
  platform::Observable<bool> isConnected_{false};
  platform::Observable<bool> isConnecting_{false};
  bool isPlayingAClip_ = false;
  bool shouldReconnect_ = true;
  std::uint64_t programInputIndex_ = kNotFound;
  std::uint64_t previewInputIndex_ = kNotFound;
  TriCasterFeedAssembler assembler_;  // connection queue
  pugi::xml_document feedDocument_;   // connection queue; its memory serves message after message
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // main thread
  std::unique_ptr<platform::Timer> labelTimer_;
  platform::TaskHandle reconnect_;
  CVNAuthenticatedURLSessionController http_;
  std::shared_ptr<Feed> feed_;
  std::shared_ptr<CVNSocket> socket_;  // connection queue
  std::shared_ptr<platform::SerialQueue> connectionQueue_;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<platform::SerialQueue> updateQueue_ =
      std::make_unique<platform::SerialQueue>(kUpdateQueueLabel);
};

}  // namespace control
