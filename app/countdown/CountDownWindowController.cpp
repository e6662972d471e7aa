#include "app/countdown/CountDownWindowController.h"

#include <any>

#include "foundation/CVNLogController.h"
#include "foundation/GenerateUniqueID.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/link/NodePlaylistFill.h"
#include "nodes/media/ClipInfoKeys.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace app::countdown {
namespace {

using platform::Value;

constexpr const char* kStoppedStatus = "STOPPED";
constexpr std::uint32_t kDebugLevel = 3;

bool isOn(const Value& mode) { return mode.integerOr(0) == 1; }

std::optional<std::string> nonEmptyText(const Value& value) {
  const std::string* text = value.string();
  if (!text || text->empty()) return std::nullopt;
  return *text;
}

std::shared_ptr<nodes::PlaylistItem> firstOf(const std::optional<nodes::DataSource::PlaylistItems>& clips) {
  return clips && !clips->empty() ? clips->front() : nullptr;
}

}  // namespace

CountDownWindowController::CountDownWindowController(Services services,
                                                     const std::optional<platform::Dictionary>& record)
    : services_(std::move(services)) {
  std::optional<CountDownWindowRecord> saved =
      record ? CountDownWindowRecord::fromValue(Value(*record)) : std::nullopt;
  if (saved) {
    frameFromPref_ = saved->frame;
    uniqueID_ = saved->uniqueID;
    nodeUniqueID_ = saved->nodeUniqueID;
    timeCountType_ = saved->timeCountType;
    fullScreenFromPref_ = saved->fullScreen;
  } else {
    uniqueID_ = foundation::GenerateUniqueID::generateUniqueID();
    isNewWindow_ = true;
  }
  auto clock = platform::DateFormatter::create(kClockFormat);
  if (clock.ok()) clockFormatter_.emplace(std::move(*clock));

  using Handler = void (CountDownWindowController::*)(const platform::Notification&);
  const std::pair<const char*, Handler> handlers[] = {
      {nodes::kPlaybackClipPositionDidChangeNotification, &CountDownWindowController::playbackClipPositionDidChange},
      {nodes::kPlaylistDidChangeNotification, &CountDownWindowController::playlistDidChange},
      {nodes::kCurrentDateTimeDidChangeNotification, &CountDownWindowController::currentDateTimeDidChange},
      {nodes::kPlaybackClipUniqueIDDidChangeNotification, &CountDownWindowController::playbackClipUniqueIDDidChange},
  };
  observers_.push_back(services_.center.addObserver(nodes::kNodeListDidChangeNotification, nullptr,
                                                    [this](const platform::Notification&) { nodeListChanged(); }));
  for (const auto& entry : handlers) {
    const Handler handler = entry.second;
    observers_.push_back(services_.center.addObserver(
        entry.first, nullptr,
        [this, handler](const platform::Notification& notification) { (this->*handler)(notification); }));
  }
}

CountDownWindowController::~CountDownWindowController() {
  observers_.clear();
  macClockTimer_.reset();
}

void CountDownWindowController::setView(CountDownView* view) { view_ = view; }

void CountDownWindowController::awakeFromNib() {
  nodeListChanged();
  if (view_) view_->selectTimeCountType(timeCountType_);
  timeCountTypePopUpPushed(timeCountType_);
  if (isNewWindow_) {
    // A new window starts on the operator's default node, else the first one.
    const std::string preferred = services_.defaults.stringForKey(kDefaultNodeAUniqueIDKey).value_or("");
    nodeListPopUpPushed(nodeListIndexOf(preferred).value_or(nodeList_.size() > 2 ? 2 : 0));
  } else if (const std::optional<std::size_t> index = nodeListIndexOf(nodeUniqueID_)) {
    nodeListPopUpPushed(*index);
  } else {
    // Not found yet (nodes connect after launch): the node list brings it when it comes.
    showNoClip();
    saveSettings();
  }
  if (view_) view_->timeCountSizeDidChange();
}

void CountDownWindowController::loadAssignedWindowFrame() {
  if (view_ && frameFromPref_ && frameFromPref_->h != 0) view_->setFrame(*frameFromPref_);
  frameAssigned_ = true;
  if (fullScreenFromPref_) activeFullScreen();
  if (view_) view_->timeCountSizeDidChange();
  saveSettings();
}

void CountDownWindowController::showWindow() {
  if (view_) view_->show();
  frameAssigned_ = true;
  saveSettings();
}

// ---- What the operator does ----

void CountDownWindowController::timeCountTypePopUpPushed(std::int32_t tag) {
  stopRealMackClockTimer();
  timeCountType_ = tag >= kFirstTimeCountType && tag <= kLastTimeCountType ? tag : kFirstTimeCountType;
  if (timeCountType_ == static_cast<std::int32_t>(TimeCountType::LocalClock)) {
    startRealMacClockTimer();
  } else if (timeCountType_ != static_cast<std::int32_t>(TimeCountType::NodeClock)) {
    // The new counter at once, not at the node's next report.
    if (const auto status = nodeStatus()) updateCountersWithStatus(*status);
  }
  saveSettings();
}

void CountDownWindowController::nodeListPopUpPushed(std::size_t index) {
  showNoClip();
  const bool hasNode = index < nodeList_.size() && nodeList_[index].nodeUniqueID;
  nodeUniqueID_ = hasNode ? *nodeList_[index].nodeUniqueID : std::string();
  if (view_) view_->setNodeList(nodeList_, hasNode ? index : 0);
  updatePlaylist();
  if (const auto status = nodeStatus()) updateCountersWithStatus(*status);
  saveSettings();
}

void CountDownWindowController::toogleFullScreen() {
  if (isInFullScreenMode_) {
    exitFullScreen();
  } else {
    activeFullScreen();
  }
}

void CountDownWindowController::activeFullScreen() {
  if (isInFullScreenMode_) return;
  isInFullScreenMode_ = true;
  if (view_) {
    view_->setFullScreen(true, kExitFullScreenImage);
    view_->timeCountSizeDidChange();
  }
  saveSettings();
}

void CountDownWindowController::exitFullScreen() {
  if (!isInFullScreenMode_) return;
  isInFullScreenMode_ = false;
  if (view_) {
    view_->setFullScreen(false, kEnterFullScreenImage);
    view_->timeCountSizeDidChange();
  }
  saveSettings();
}

void CountDownWindowController::windowWillClose() {
  stopRealMackClockTimer();
  // Closing at quit keeps the record for the next start; the operator's close drops it.
  if (services_.applicationIsTerminating && services_.applicationIsTerminating()) return;
  removeCountDownWindowRecord(services_.defaults, uniqueID_);
}

void CountDownWindowController::windowDidMove() { saveSettings(); }

void CountDownWindowController::windowDidResize() {
  if (view_) view_->timeCountSizeDidChange();
  saveSettings();
}

void CountDownWindowController::saveSettings() {
  CountDownWindowRecord record;
  if (frameAssigned_ && view_) {
    record.frame = view_->frame();
    record.fullScreen = isInFullScreenMode_;
  } else {
    record.frame = frameFromPref_;
    record.fullScreen = fullScreenFromPref_;
  }
  record.uniqueID = uniqueID_;
  record.nodeUniqueID = nodeUniqueID_;
  record.timeCountType = timeCountType_;
  saveCountDownWindowRecord(services_.defaults, record);
}

// ---- The clock ----

void CountDownWindowController::startRealMacClockTimer() {
  if (macClockTimer_) return;
  macClockTimer_ = platform::Timer::scheduled(platform::DispatchQueue::main(), kLocalClockInterval,
                                              platform::Timer::Mode::Repeating,
                                              [this] { updateRealMacClockTimer(); });
}

void CountDownWindowController::stopRealMackClockTimer() { macClockTimer_.reset(); }

void CountDownWindowController::updateRealMacClockTimer() {
  if (!view_ || !clockFormatter_) return;
  view_->setTimeCount({clockFormatter_->stringFromDate(platform::Clock::current().wallNow()), TimeCountColour::White});
}

// ---- The node ----

void CountDownWindowController::nodeListChanged() {
  nodeList_.clear();
  nodeList_.push_back({kNoClipName, std::nullopt, false});
  const auto dataSource = services_.dataSource ? services_.dataSource() : nullptr;
  if (dataSource && !dataSource->nodes().empty()) {
    nodeList_.push_back({"", std::nullopt, true});
    for (const nodes::NodeConnectionPtr& node : dataSource->nodes()) {
      std::string title = node->name();
      if (title.empty()) title = node->address() + ":" + node->portNumber();
      nodeList_.push_back({std::move(title), node->nodeUniqueID(), false});
    }
  }
  const std::optional<std::size_t> selected = nodeListIndexOf(nodeUniqueID_);
  if (view_) view_->setNodeList(nodeList_, selected.value_or(0));
  // The window's node has come (back): its playlist can be read now.
  if (selected && grabedPlaylist_.empty()) {
    updatePlaylist();
    if (const auto status = nodeStatus()) updateCountersWithStatus(*status);
  }
}

std::optional<std::size_t> CountDownWindowController::nodeListIndexOf(const std::string& nodeUniqueID) const {
  if (nodeUniqueID.empty()) return std::nullopt;
  for (std::size_t i = 0; i < nodeList_.size(); ++i) {
    if (nodeList_[i].nodeUniqueID == nodeUniqueID) return i;
  }
  return std::nullopt;
}

std::optional<platform::Dictionary> CountDownWindowController::nodeStatus() const {
  const auto dataSource = services_.dataSource ? services_.dataSource() : nullptr;
  if (!dataSource || nodeUniqueID_.empty()) return std::nullopt;
  return dataSource->nodeControlStatus(nodeUniqueID_);
}

std::shared_ptr<nodes::PlaylistItem> CountDownWindowController::catalogueClip(nodes::DataSource& dataSource,
                                                                              const Value& entry) const {
  const std::optional<std::string> folder = nonEmptyText(entry[nodes::clipinfo::kMediaFolderUniqueID]);
  if (const auto mediaItem = nonEmptyText(entry[nodes::clipinfo::kMediaItemUniqueID])) {
    // The window's node first: the same media item on another node may be another clip.
    if (auto clip = firstOf(dataSource.clipsWithMediaItemUniqueID(*mediaItem, nodeUniqueID_, folder))) return clip;
    if (auto clip = firstOf(dataSource.clipsWithMediaItemUniqueID(*mediaItem, std::nullopt, folder))) return clip;
  }
  const auto path = nonEmptyText(entry[nodes::clipinfo::kAbsolutePathToMediaItem]);
  return path ? firstOf(dataSource.clipsWithMediaItemAbsolutePath(*path, nodeUniqueID_)) : nullptr;
}

void CountDownWindowController::updatePlaylist() {
  grabedPlaylist_.clear();
  currentClipIndex_ = -1;
  const auto dataSource = services_.dataSource ? services_.dataSource() : nullptr;
  if (!dataSource || nodeUniqueID_.empty()) return;
  const nodes::NodeConnectionPtr connection = dataSource->nodeConnectionWithNodeUniqueID(nodeUniqueID_);
  if (!connection) return;
  for (const Value& entry : connection->currentPlaylist()) {
    if (!entry.isDictionary()) continue;
    std::shared_ptr<nodes::PlaylistItem> clip = catalogueClip(*dataSource, entry);
    if (!clip) continue;
    nodes::takeNodeEntryFields(*clip, entry, nodeUniqueID_);
    grabedPlaylist_.push_back(std::move(clip));
  }
  computeBlockDurations(grabedPlaylist_, playlistChainMode_);
}

bool CountDownWindowController::isWindowNode(const platform::Notification& notification) const {
  const auto* connection = std::any_cast<nodes::NodeConnectionPtr>(&notification.object);
  return connection && *connection && !nodeUniqueID_.empty() && (*connection)->nodeUniqueID() == nodeUniqueID_;
}

void CountDownWindowController::playbackClipPositionDidChange(const platform::Notification& notification) {
  if (timeCountType_ == static_cast<std::int32_t>(TimeCountType::LocalClock) ||
      timeCountType_ == static_cast<std::int32_t>(TimeCountType::NodeClock) || !isWindowNode(notification)) {
    return;
  }
  updateCountersWithStatus(notification.userInfo);
}

void CountDownWindowController::playbackClipUniqueIDDidChange(const platform::Notification& notification) {
  playbackClipPositionDidChange(notification);
}

void CountDownWindowController::playlistDidChange(const platform::Notification& notification) {
  if (!isWindowNode(notification)) return;
  const platform::Dictionary status = nodeStatus().value_or(platform::Dictionary{});
  const Value statusValue(status);
  if (statusValue[nodes::kNodeStatusStatusKey].stringOr("") == kStoppedStatus) {
    if (!grabedPlaylist_.empty()) {
      grabedPlaylist_.clear();
      currentClipIndex_ = -1;
      if (view_) view_->setTimeCount({kNoTimeCountText, TimeCountColour::White});
    }
    return;
  }
  auto& log = foundation::CVNLogController::sharedLogController();
  log.logMessageWithLevel(kDebugLevel, false, "-----------playlist will change----------");
  playlistChainMode_ = isOn(statusValue[nodes::kNodeStatusChainModeKey]);
  updatePlaylist();
  updateCountersWithStatus(status);
  log.logMessageWithLevel(kDebugLevel, false, "-----------playlist did change----------");
}

void CountDownWindowController::currentDateTimeDidChange(const platform::Notification& notification) {
  if (timeCountType_ != static_cast<std::int32_t>(TimeCountType::NodeClock) || !isWindowNode(notification)) return;
  if (!view_) return;
  const Value status(nodeStatus().value_or(platform::Dictionary{}));
  const std::optional<platform::Date> date = status[nodes::kNodeStatusCurrentDateTimeKey].date();
  std::string text = kNoTimeCountText;
  if (date && clockFormatter_) text = clockFormatter_->stringFromDate(*date);
  view_->setTimeCount({std::move(text), TimeCountColour::White});
  view_->setClipNames(kClockClipName, kClockClipName);
}

std::shared_ptr<nodes::PlaylistItem> CountDownWindowController::playlistItemWithPlaybackUniqueID(
    const std::string& playbackUniqueID) {
  for (std::size_t i = 0; i < grabedPlaylist_.size(); ++i) {
    if (grabedPlaylist_[i]->playbackUniqueID() == playbackUniqueID) {
      currentClipIndex_ = static_cast<std::int64_t>(i);
      return grabedPlaylist_[i];
    }
  }
  return nullptr;
}

void CountDownWindowController::showNoClip() {
  if (!view_) return;
  view_->setTimeCount({kNoTimeCountText, TimeCountColour::White});
  view_->setClipNames(kNoClipName, kNoClipName);
}

void CountDownWindowController::updateCountersWithStatus(const platform::Dictionary& status) {
  const Value info(status);
  const bool chainMode = isOn(info[nodes::kNodeStatusChainModeKey]);
  if (chainMode != playlistChainMode_) {
    playlistChainMode_ = chainMode;
    computeBlockDurations(grabedPlaylist_, playlistChainMode_);
  }
  if (info[nodes::kNodeStatusStatusKey].stringOr("") == kStoppedStatus) {
    showNoClip();
    return;
  }
  std::shared_ptr<nodes::PlaylistItem> clip =
      playlistItemWithPlaybackUniqueID(info[nodes::kNodeStatusClipPlaybackUniqueIDKey].stringOr(""));
  if (!clip && grabedPlaylist_.size() == 1) {
    clip = grabedPlaylist_.front();
    currentClipIndex_ = 0;
  }
  if (!clip || !view_) return;

  view_->setTimeCount(timeCountDisplay(timeCountType_, *clip, info[nodes::kNodeStatusPositionKey].realOr(0.0)));
  const std::optional<std::size_t> next =
      nextClipIndex(grabedPlaylist_.size(), static_cast<std::size_t>(currentClipIndex_), chainMode,
                    isOn(info[nodes::kNodeStatusLoopModeKey]));
  view_->setClipNames(clip->displayName(), next ? grabedPlaylist_[*next]->displayName() : kNoClipName);
}

}  // namespace app::countdown
