// NodeConnection: fields, lifecycle and the polling thread. The node commands
// and the status diff are in NodeConnectionProtocol.cpp.

#include "nodes/link/NodeConnection.h"

#include <sys/prctl.h>

#include <algorithm>
#include <any>
#include <condition_variable>
#include <cstdio>
#include <stop_token>
#include <utility>

#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Thread.h"

namespace nodes {

// Shared by the connection and its polling thread, so the thread can finish
// its bookkeeping after the connection is gone.
struct NodeConnection::PollingState {
  std::mutex mutex;
  std::condition_variable changed;
  std::unique_ptr<platform::Thread> thread;  // guarded by mutex; joined outside it
  std::uint64_t run = 0;                     // guarded by mutex: the run allowed to poll
  bool isRunning = false;                    // guarded by mutex
  bool mustShutdown = false;                 // guarded by mutex
  bool stopRequested = false;                // guarded by mutex: stopConnection() waits for this run
  std::uint64_t tickCount = 0;               // guarded by mutex
  bool commandsQueued = false;               // guarded by mutex: control commands wait for the next tick
  platform::Clock::TimePoint commandsQueuedAt{};  // guarded by mutex: when the first of them came
  bool linkClosed = false;                   // guarded by mutex: the sleeping thread has nothing left to poll
  // While the thread sleeps through idle ticks: when the sleep began, on which
  // clock, and how many idle ticks it covers. Each counts as done once its
  // time has come.
  platform::Clock::TimePoint sleepingSince{};  // guarded by mutex
  const platform::Clock* sleepingOn = nullptr;  // guarded by mutex; compared, never used
  unsigned idleTicksAhead = 0;                  // guarded by mutex

  // Idle ticks of the current sleep whose time has come; lock held. Queued
  // commands make the tick after them a working one.
  unsigned idleTicksPassed() const {
    if (sleepingOn != &platform::Clock::current()) return 0;
    const auto elapsed = (commandsQueued ? commandsQueuedAt : platform::Clock::current().now()) - sleepingSince;
    if (elapsed <= platform::Clock::Duration::zero()) return 0;
    return static_cast<unsigned>(std::min<std::int64_t>(idleTicksAhead, elapsed / kPollingTick));
  }

  // Sleeps through `idleTicks` ticks that have nothing to do and wakes for
  // the tick after them; queued control commands move that tick forward to
  // the first tick on the cadence, and `woken` to now. Answers how many idle
  // ticks went by, which count as done.
  unsigned sleepThroughIdleTicks(std::unique_lock<std::mutex>& lock, unsigned idleTicks,
                                 const std::function<bool()>& woken, const std::function<bool()>& wokenOrCommands) {
    sleepingOn = &platform::Clock::current();
    sleepingSince = sleepingOn->now();
    idleTicksAhead = idleTicks;
    platform::waitOnCurrentClock(lock, changed, kPollingTick * (idleTicks + 1), wokenOrCommands);
    unsigned passed = idleTicks;
    if (woken()) {
      passed = idleTicksPassed();
    } else if (commandsQueued) {
      // The first tick after they came serves them, as when every tick woke
      // (a tick whose time is exactly then already counts as done).
      if (sleepingOn != &platform::Clock::current()) {
        sleepingOn = &platform::Clock::current();
        sleepingSince = commandsQueuedAt = sleepingOn->now();
      }
      const auto elapsed = std::max(commandsQueuedAt - sleepingSince, platform::Clock::Duration::zero());
      const auto tick = std::clamp<std::int64_t>(elapsed / kPollingTick + 1, 1, idleTicks + 1);
      passed = static_cast<unsigned>(tick - 1);
      idleTicksAhead = passed;
      const auto remaining = sleepingSince + kPollingTick * tick - platform::Clock::current().now();
      if (remaining > platform::Clock::Duration::zero()) platform::waitOnCurrentClock(lock, changed, remaining, woken);
      if (woken()) passed = idleTicksPassed();
    }
    commandsQueued = false;
    tickCount += passed;
    sleepingOn = nullptr;
    idleTicksAhead = 0;
    return passed;
  }
};

namespace {

constexpr std::chrono::milliseconds kTickSlack{4};

void systemLog(const std::string& message) { platform::reportDiagnostic(platform::DiagnosticLevel::Warning, message); }

}  // namespace

NodeConnection::NodeConnection() : polling_(std::make_shared<PollingState>()) {}

std::shared_ptr<NodeConnection> NodeConnection::create(std::weak_ptr<NodeConnectionDelegate> delegate) {
  std::shared_ptr<NodeConnection> connection(new NodeConnection(), &NodeConnection::destroy);
  connection->delegate_ = std::move(delegate);
  connection->telnetController_.setDelegate(std::weak_ptr<TelnetControllerDelegate>(connection));
  return connection;
}

void NodeConnection::destroy(NodeConnection* connection) {
  bool onPollingThread = false;
  {
    std::lock_guard lock(connection->polling_->mutex);
    onPollingThread = connection->polling_->thread && connection->polling_->thread->isCurrent();
  }
  if (!onPollingThread) {
    delete connection;
    return;
  }
  // The polling thread held the last reference for a tick. It cannot join
  // itself, so the connection goes to the main thread, which joins it there.
  if (!platform::DispatchQueue::main().async([connection] { delete connection; })) {
    systemLog("NodeConnection: the main queue refused its release; it is kept until the process ends");
  }
}

NodeConnection::~NodeConnection() {
  std::unique_ptr<platform::Thread> thread;
  {
    std::lock_guard lock(polling_->mutex);
    thread = std::move(polling_->thread);
    ++polling_->run;  // whatever the thread does next, it stops polling
  }
  polling_->changed.notify_all();
  // Releases a command the polling thread waits for; the link's delegate
  // calls find this connection gone and do nothing.
  telnetController_.stopConnection();
  thread.reset();
}

std::shared_ptr<NodeConnectionDelegate> NodeConnection::lockedDelegate() const {
  std::lock_guard lock(fieldsMutex_);
  return delegate_.lock();
}

std::weak_ptr<NodeConnectionDelegate> NodeConnection::delegate() const {
  std::lock_guard lock(fieldsMutex_);
  return delegate_;
}

void NodeConnection::setDelegate(std::weak_ptr<NodeConnectionDelegate> delegate) {
  std::lock_guard lock(fieldsMutex_);
  delegate_ = std::move(delegate);
}

void NodeConnection::setPollingHooks(std::shared_ptr<NodePollingHooks> hooks) {
  std::lock_guard lock(fieldsMutex_);
  pollingHooks_ = std::move(hooks);
}

// --- Plain fields ---

#define NODE_CONNECTION_FIELD(Type, getter, setter, member) \
  Type NodeConnection::getter() const {                     \
    std::lock_guard lock(fieldsMutex_);                     \
    return member;                                          \
  }                                                         \
  void NodeConnection::setter(Type value) {                 \
    std::lock_guard lock(fieldsMutex_);                     \
    member = std::move(value);                              \
  }

NODE_CONNECTION_FIELD(std::string, name, setName, name_)
NODE_CONNECTION_FIELD(std::string, nodeUniqueID, setNodeUniqueID, nodeUniqueID_)
NODE_CONNECTION_FIELD(std::string, address, setAddress, address_)
NODE_CONNECTION_FIELD(std::string, portNumber, setPortNumber, portNumber_)
NODE_CONNECTION_FIELD(bool, discoveredByNetServices, setDiscoveredByNetServices, discoveredByNetServices_)
NODE_CONNECTION_FIELD(std::optional<ResolvedNetService>, netService, setNetService, netService_)
NODE_CONNECTION_FIELD(std::uint64_t, playlistLastChangeNumber, setPlaylistLastChangeNumber, playlistLastChangeNumber_)
NODE_CONNECTION_FIELD(std::uint64_t, clipAttributesLastChangeNumber, setClipAttributesLastChangeNumber,
                      clipAttributesLastChangeNumber_)
NODE_CONNECTION_FIELD(bool, isModifyingPlaylist, setIsModifyingPlaylist, isModifyingPlaylist_)
NODE_CONNECTION_FIELD(std::string, startClipUniqueID, setStartClipUniqueID, startClipUniqueID_)
NODE_CONNECTION_FIELD(double, startClipOffset, setStartClipOffset, startClipOffset_)
NODE_CONNECTION_FIELD(bool, cue, setCue, cue_)
NODE_CONNECTION_FIELD(std::weak_ptr<VideoPlaylistDocument>, playlistDocument, setPlaylistDocument, playlistDocument_)

#undef NODE_CONNECTION_FIELD

std::string NodeConnection::description() const {
  std::lock_guard lock(fieldsMutex_);
  return "NodeConnection " + name_ + " - " + nodeUniqueID_;
}

int NodeConnection::nodeNameComparaison(const NodeConnection& other) const {
  const int order = name().compare(other.name());
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// --- Shared collections ---

platform::Dictionary NodeConnection::currentStatus() const {
  std::lock_guard lock(currentStatusMutex_);
  return currentStatus_;
}

void NodeConnection::setCurrentStatus(platform::Dictionary status) {
  std::lock_guard lock(currentStatusMutex_);
  currentStatus_ = std::move(status);
}

bool NodeConnection::isAuthenticated() const {
  std::lock_guard lock(currentStatusMutex_);
  const auto found = currentStatus_.find(kNodeStatusIsAuthenticatedKey);
  return found != currentStatus_.end() && found->second.booleanOr(false);
}

bool NodeConnection::isInSlaveMode() const {
  std::lock_guard lock(currentStatusMutex_);
  const auto found = currentStatus_.find(kNodeStatusSlaveModeKey);
  return found != currentStatus_.end() && found->second.booleanOr(false);
}

platform::Array NodeConnection::currentPlaylist() const {
  std::lock_guard lock(currentPlaylistMutex_);
  return currentPlaylist_;
}

void NodeConnection::setCurrentPlaylist(platform::Array playlist) {
  std::lock_guard lock(currentPlaylistMutex_);
  currentPlaylist_ = std::move(playlist);
}

std::vector<std::shared_ptr<MediaFolder>> NodeConnection::mediaFolders() const {
  std::lock_guard lock(mediaFoldersMutex_);
  return mediaFolders_;
}

void NodeConnection::setMediaFolders(std::vector<std::shared_ptr<MediaFolder>> folders) {
  std::lock_guard lock(mediaFoldersMutex_);
  mediaFolders_ = std::move(folders);
}

void NodeConnection::withMediaFolders(const std::function<void(std::vector<std::shared_ptr<MediaFolder>>&)>& body) {
  std::lock_guard lock(mediaFoldersMutex_);
  body(mediaFolders_);
}

std::shared_ptr<MediaFolder> NodeConnection::mediaFolderWithUniqueID(std::string_view uniqueID) const {
  std::lock_guard lock(mediaFoldersMutex_);
  for (const auto& folder : mediaFolders_) {
    if (folder && folder->uniqueID() == uniqueID) return folder;
  }
  return nullptr;
}

std::vector<std::shared_ptr<Attribute>> NodeConnection::possibleClipAttributes() const {
  std::lock_guard lock(possibleClipAttributesMutex_);
  return possibleClipAttributes_;
}

void NodeConnection::setPossibleClipAttributes(std::vector<std::shared_ptr<Attribute>> attributes) {
  std::lock_guard lock(possibleClipAttributesMutex_);
  possibleClipAttributes_ = std::move(attributes);
}

void NodeConnection::withPossibleClipAttributes(
    const std::function<void(std::vector<std::shared_ptr<Attribute>>&)>& body) {
  std::lock_guard lock(possibleClipAttributesMutex_);
  body(possibleClipAttributes_);
}

platform::Dictionary NodeConnection::nodeInfoDictionary() const {
  platform::Dictionary info;
  {
    std::lock_guard lock(fieldsMutex_);
    info["nodeUniqueID"] = nodeUniqueID_;
    info["nodeName"] = name_;
    if (!address_.empty()) info["ipAdress"] = address_;
    if (!portNumber_.empty()) info["portNumber"] = portNumber_;
    info["discoveredByNetServices"] = discoveredByNetServices_;
  }
  platform::Array folders;
  {
    std::lock_guard lock(mediaFoldersMutex_);
    for (const auto& folder : mediaFolders_) {
      if (folder) folders.emplace_back(folder->dictionary());
    }
  }
  info["mediaFolders"] = std::move(folders);
  return info;
}

std::string NodeConnection::thumbnailCacheKey(std::string_view mediaFolderUniqueID, std::string_view mediaItemUniqueID,
                                              double positionInSeconds) {
  char position[64];
  std::snprintf(position, sizeof position, "%f", positionInSeconds);
  return std::string(mediaFolderUniqueID) + " " + std::string(mediaItemUniqueID) + " " + position;
}

std::shared_ptr<const RGBAImage> NodeConnection::thumbnailForMediaItemWithUniqueID(
    std::string_view mediaItemUniqueID, std::string_view mediaFolderUniqueID, double positionInSeconds) const {
  const std::string key = thumbnailCacheKey(mediaFolderUniqueID, mediaItemUniqueID, positionInSeconds);
  std::lock_guard lock(thumbnailsMutex_);
  const auto found = thumbnailsCache_.find(key);
  return found == thumbnailsCache_.end() ? nullptr : found->second;
}

void NodeConnection::addThumbnailToCache(std::shared_ptr<const RGBAImage> image, std::string_view mediaItemUniqueID,
                                         std::string_view mediaFolderUniqueID, double positionInSeconds) {
  std::string key = thumbnailCacheKey(mediaFolderUniqueID, mediaItemUniqueID, positionInSeconds);
  std::lock_guard lock(thumbnailsMutex_);
  thumbnailsCache_[std::move(key)] = std::move(image);
}

// --- Control-command queue ---

void NodeConnection::addControlCommand(std::shared_ptr<ControlCommand> command) {
  if (!command) return;
  if (command->nodeConnection().expired()) command->setNodeConnection(weak_from_this());
  {
    std::lock_guard lock(controlCommandsMutex_);
    controlCommands_.push_back(std::move(command));
  }
  {
    std::lock_guard lock(polling_->mutex);
    if (!polling_->commandsQueued) polling_->commandsQueuedAt = platform::Clock::current().now();
    polling_->commandsQueued = true;
  }
  polling_->changed.notify_all();
}

std::vector<std::shared_ptr<ControlCommand>> NodeConnection::controlCommands() const {
  std::lock_guard lock(controlCommandsMutex_);
  return controlCommands_;
}

bool NodeConnection::hasQueuedControlCommands() const {
  std::lock_guard lock(controlCommandsMutex_);
  return !controlCommands_.empty();
}

// --- Lifecycle ---

void NodeConnection::startConnection() {
  if (!discoveredByNetServices()) {
    const std::string port = portNumber();
    telnetController_.startConnectionWithHostAddress(address(), static_cast<int>(integerValueOfReply(port)));
  } else if (const auto service = netService()) {
    telnetController_.startConnectionWithNetService(service);
  }
}

void NodeConnection::stopConnection() {
  bool running = false;
  bool onPollingThread = false;
  {
    std::lock_guard lock(polling_->mutex);
    running = polling_->isRunning;
    onPollingThread = polling_->thread && polling_->thread->isCurrent();
    if (running) {
      polling_->mustShutdown = true;
      polling_->stopRequested = true;  // unlike mustShutdown, never cleared by the thread
    }
  }
  polling_->changed.notify_all();
  // Stopping the link at once (not only at the thread's next tick) releases
  // a command the polling thread is waiting for, so the wait below is short.
  telnetController_.stopConnection();
  if (!running || onPollingThread) return;
  std::unique_lock lock(polling_->mutex);
  const auto steps = kShutdownWaitLimit / kShutdownStep;
  for (auto step = steps * 0; polling_->isRunning && step < steps; ++step) {
    platform::waitOnCurrentClock(lock, polling_->changed, kShutdownStep, [this] { return !polling_->isRunning; });
  }
  if (polling_->isRunning) {
    lock.unlock();
    systemLog(description() + ": the polling thread did not end within " +
              std::to_string(kShutdownWaitLimit.count()) + " s");
  }
}

bool NodeConnection::isConnected() const { return telnetController_.isConnected(); }

bool NodeConnection::isRunning() const {
  std::lock_guard lock(polling_->mutex);
  return polling_->isRunning;
}

bool NodeConnection::mustShutdown() const {
  std::lock_guard lock(polling_->mutex);
  return polling_->mustShutdown;
}

void NodeConnection::setMustShutdown(bool mustShutdown) {
  {
    std::lock_guard lock(polling_->mutex);
    polling_->mustShutdown = mustShutdown;
  }
  polling_->changed.notify_all();
}

std::uint64_t NodeConnection::pollingTickCount() const {
  std::lock_guard lock(polling_->mutex);
  return polling_->tickCount + polling_->idleTicksPassed();
}

void NodeConnection::nodeConnectionDidOpen(TelnetController&) {
  std::unique_ptr<platform::Thread> previous;
  std::uint64_t run = 0;
  {
    std::lock_guard lock(polling_->mutex);
    previous = std::move(polling_->thread);
    run = ++polling_->run;
    polling_->mustShutdown = false;
    polling_->stopRequested = false;
    polling_->linkClosed = false;
    polling_->tickCount = 0;
  }
  polling_->changed.notify_all();
  // The thread of the previous link saw it close; superseded now, it ends
  // within its tick, so this join is short.
  previous.reset();
  std::lock_guard lock(polling_->mutex);
  if (polling_->run != run) return;  // another open came first
  polling_->isRunning = true;
  polling_->thread = std::make_unique<platform::Thread>(
      "com.dirarovazovo.nodePolling",
      [weak = weak_from_this(), state = polling_, run](std::stop_token stop) {
        // A tick may come up to kTickSlack late; in exchange the kernel wakes
        // the polling threads of many nodes on one timer interrupt.
        ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(std::chrono::nanoseconds(kTickSlack).count()));
        std::stop_callback wake(stop, [&state] {
          std::lock_guard guard(state->mutex);
          state->changed.notify_all();
        });
        const auto stillCurrent = [&] {
          std::lock_guard guard(state->mutex);
          return state->run == run && !stop.stop_requested() && !state->stopRequested;
        };
        bool polling = false;
        if (auto self = weak.lock()) polling = stillCurrent() && self->startPolling();
        unsigned statusTicks = 0, mediaTicks = 0;
        // Made once: a tick allocates nothing of its own.
        const std::function<bool()> woken = [&] {
          return state->run != run || stop.stop_requested() || state->mustShutdown || state->stopRequested ||
                 state->linkClosed;
        };
        const std::function<bool()> wokenOrCommands = [&] { return woken() || state->commandsQueued; };
        while (polling) {
          auto self = weak.lock();
          if (!self || !stillCurrent() || !self->isConnected()) break;
          self->runTick(statusTicks, mediaTicks);
          self.reset();  // not held while asleep: the owner may let go meanwhile
          std::unique_lock lock(state->mutex);
          ++state->tickCount;
          // Ticks before the next status or media tick only serve control
          // commands: with none queued the thread sleeps through them.
          const unsigned idle = std::min(kStatusPollTicks - statusTicks, kMediaPollTicks - mediaTicks);
          const unsigned passed = state->sleepThroughIdleTicks(lock, idle, woken, wokenOrCommands);
          statusTicks += passed;
          mediaTicks += passed;
        }
        // Told before isRunning clears, so once stopConnection() returns no
        // call of this thread reaches the delegate any more.
        if (auto self = weak.lock()) {
          if (auto delegate = self->lockedDelegate()) delegate->nodeListDidChange();
        }
        {
          std::lock_guard guard(state->mutex);
          if (state->run == run) state->isRunning = false;
        }
        state->changed.notify_all();
      });
}

void NodeConnection::nodeConnectionDidClose(TelnetController&) { resetAfterClose(); }

void NodeConnection::nodeConnectionDidNotOpen(TelnetController&) { resetAfterClose(); }

void NodeConnection::resetAfterClose() {
  {
    std::lock_guard lock(polling_->mutex);
    polling_->linkClosed = true;
  }
  polling_->changed.notify_all();
  {
    std::lock_guard lock(controlCommandsMutex_);
    controlCommands_.clear();
  }
  setCurrentStatus({});
  const platform::Dictionary empty;
  auto self = shared_from_this();
  if (auto delegate = lockedDelegate()) {
    delegate->nodeListDidChange();
    delegate->nodePlaybackStatusChanged(empty, self);
    delegate->nodePlaybackClipUniqueIDChanged(empty, self);
    delegate->nodePlaybackPlaylistUniqueIDChanged(empty, self);
    delegate->nodePlaybackClipPositionChanged(empty, self);
    delegate->nodeAuthenticationChanged(empty, self);
    delegate->nodeLockedClipsChanged(empty, self);
  }
  platform::NotificationCenter::defaultCenter().post(
      platform::Notification{kNodeConnectionDidCloseNotification, this, platform::Value(nodeUniqueID()), {}});
}

// Steps 1 to 6 of the polling thread: identity, saved folders and
// attributes, playlist. False when the node is not to be polled.
bool NodeConnection::startPolling() {
  const std::uint64_t version = getVersion();
  if (version >= kUnsupportedVersion) {
    systemLog("Unsupported version");
    return false;
  }
  const std::string uniqueID = getNodeUniqueID();
  const std::string nodeName = getNodeName();
  if (uniqueID.empty() || nodeName.empty()) {
    systemLog(address() + " node name or node unique ID are nil");
    telnetController_.stopConnection();
    return false;
  }
  auto self = shared_from_this();
  const auto delegate = lockedDelegate();
  if (delegate) delegate->getMediaFoldersForNode(self);
  if (const auto hooks = pollingHooks()) hooks->checkForMediaFolderChanges(*this);
  if (delegate) {
    setClipAttributesLastChangeNumber(delegate->attributesLastChangeNumberInPrefForNode(self));
    setPossibleClipAttributes(delegate->attributesInPrefForNodeWithUniqueID(uniqueID));
  }
  if (auto playlist = getCurrentPlaylist(); playlist && !playlist->empty()) setCurrentPlaylist(std::move(*playlist));
  if (delegate) {
    delegate->nodeListDidChange();
    delegate->saveNodeToPreference(self);
  }
  platform::NotificationCenter::defaultCenter().postOnMainThread(
      platform::Notification{kNewNodeDiscoveredNotification, this, self, {}});
  return true;
}

void NodeConnection::runTick(unsigned& statusTicks, unsigned& mediaTicks) {
  processControlCommandsAndUpdateStatus();
  if (statusTicks >= kStatusPollTicks) {
    checkPlaybackStatus();
    statusTicks = 0;
  }
  if (mediaTicks >= kMediaPollTicks) {
    const auto hooks = pollingHooks();
    if (hooks) hooks->checkForMediaFolderChanges(*this);
    processControlCommandsAndUpdateStatus();
    if (!isModifyingPlaylist()) checkForPlaylistChanges();
    processControlCommandsAndUpdateStatus();
    if (hooks) hooks->checkForAttributeChanges(*this);
    mediaTicks = 0;
  }
  if (mustShutdown()) {
    telnetController_.stopConnection();
    setMustShutdown(false);
  }
  ++statusTicks;
  ++mediaTicks;
}

std::shared_ptr<NodePollingHooks> NodeConnection::pollingHooks() const {
  std::lock_guard lock(fieldsMutex_);
  return pollingHooks_;
}

}  // namespace nodes
