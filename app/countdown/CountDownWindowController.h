#pragma once
// CountDownWindowController: one countdown window's decisions. It shows one
// counter of one node (clip or block remaining or elapsed, media timecode,
// the local clock or the node's clock) with the current and next clip names,
// from the node notifications and the node's playlist as the data source
// mirrors them; it sends nothing to the node.
//
// Its record in "CountDownWindowPositions" is written when the window opens,
// moves, resizes or changes node, counter type or full screen, and removed
// when the operator closes it; a window still open when the application
// quits (or is killed) keeps its record, so it reopens at the next start.
//
// Owned by the window's handle (shared with the application delegate); the
// view, the defaults and the notification centre outlive it. Main thread:
// the notifications and the clock timer arrive there.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/countdown/CountDownView.h"
#include "app/shell/WindowControllers.h"
#include "nodes/link/DataSource.h"
#include "platform/DateFormatter.h"
#include "platform/NotificationCenter.h"
#include "platform/Timer.h"
#include "platform/UserDefaults.h"

namespace app::countdown {

inline constexpr std::chrono::milliseconds kLocalClockInterval{500};
inline constexpr const char* kDefaultNodeAUniqueIDKey = "defaultNodeAUniqueID";

class CountDownWindowController final : public app::CountDownWindowController {
 public:
  struct Services {
    platform::UserDefaults& defaults;
    platform::NotificationCenter& center;
    std::function<std::shared_ptr<nodes::DataSource>()> dataSource;  // none yet: no nodes
    std::function<bool()> applicationIsTerminating;
  };

  // initWithDict: with a saved record (read as CountDownWindowRecord does),
  // or none for a new window of type 1, no node and a new unique ID.
  CountDownWindowController(Services services, const std::optional<platform::Dictionary>& record);
  ~CountDownWindowController() override;
  CountDownWindowController(const CountDownWindowController&) = delete;
  CountDownWindowController& operator=(const CountDownWindowController&) = delete;

  // The window; then awakeFromNib. Not owned.
  void setView(CountDownView* view);
  void awakeFromNib();

  // ---- app::CountDownWindowController ----
  void loadAssignedWindowFrame() override;
  void showWindow() override;

  // ---- What the operator does ----
  void timeCountTypePopUpPushed(std::int32_t tag);
  // `index` in the node list; an item without a node selects "<none>".
  void nodeListPopUpPushed(std::size_t index);
  void toogleFullScreen();
  void activeFullScreen();
  void exitFullScreen();
  void windowWillClose();
  void windowDidMove();
  void windowDidResize();

  // ---- The node ----
  void nodeListChanged();
  void updatePlaylist();
  void playbackClipPositionDidChange(const platform::Notification& notification);
  void playbackClipUniqueIDDidChange(const platform::Notification& notification);
  void playlistDidChange(const platform::Notification& notification);
  void currentDateTimeDidChange(const platform::Notification& notification);
  void updateCountersWithStatus(const platform::Dictionary& status);

  const std::string& nodeUniqueID() const { return nodeUniqueID_; }
  std::int32_t timeCountType() const { return timeCountType_; }
  const std::vector<std::shared_ptr<nodes::PlaylistItem>>& grabedPlaylist() const { return grabedPlaylist_; }
  std::int64_t currentClipIndex() const { return currentClipIndex_; }
  const std::string& uniqueID() const { return uniqueID_; }
  bool isInFullScreenMode() const { return isInFullScreenMode_; }
  const std::vector<NodeListItem>& nodeList() const { return nodeList_; }

 private:
  void saveSettings();
  void startRealMacClockTimer();
  void stopRealMackClockTimer();
  void updateRealMacClockTimer();
  void showNoClip();
  bool isWindowNode(const platform::Notification& notification) const;
  std::shared_ptr<nodes::PlaylistItem> playlistItemWithPlaybackUniqueID(const std::string& playbackUniqueID);
  std::shared_ptr<nodes::PlaylistItem> catalogueClip(nodes::DataSource& dataSource, const platform::Value& entry) const;
  std::optional<std::size_t> nodeListIndexOf(const std::string& nodeUniqueID) const;
  std::optional<platform::Dictionary> nodeStatus() const;

  Services services_;
  CountDownView* view_ = nullptr;  // not owned; the window outlives its tie

  std::string nodeUniqueID_;
  std::int32_t timeCountType_ = 1;
  std::vector<std::shared_ptr<nodes::PlaylistItem>> grabedPlaylist_;
  std::int64_t currentClipIndex_ = -1;
  std::string uniqueID_;
  std::optional<WindowFrame> frameFromPref_;
  bool fullScreenFromPref_ = false;
  bool isNewWindow_ = false;
  bool frameAssigned_ = false;  // until then the record's frame is the window's
  bool isInFullScreenMode_ = false;
  bool playlistChainMode_ = false;
  std::vector<NodeListItem> nodeList_;

  std::optional<platform::DateFormatter> clockFormatter_;
  std::unique_ptr<platform::Timer> macClockTimer_;
  std::vector<platform::ObserverToken> observers_;
};

}  // namespace app::countdown
