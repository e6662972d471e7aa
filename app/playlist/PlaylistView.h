#pragma once
// PlaylistView: what the playlist window controller shows through its window.
// The controller builds a plain PlaylistViewState after each change and hands
// it over whole; the window draws it and makes no decision of its own.
//
// The window implements PlaylistView and outlives its tie to the controller
// (the controller holds it as a plain pointer, not owned). Main thread only.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/playlist/PlaylistNodeSelection.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "nodes/media/TiffImage.h"

namespace app {

// Which node plays a row.
enum class RowOwner { NodeA = 1, NodeB = 2 };

// What the operator is asked for after choosing "Authenticate".
enum class PasswordRequest { None = 0, OneNode = 1, NodesAAndB = 2 };

struct PlaylistRowState {
  std::string name;
  std::string startTime;  // the row's start time text; empty when none
  std::string duration;
  std::int32_t status = 0;  // 0 idle, 1 paused, 2 cued, 3 playing, 6 ended and holding
  RowOwner owner = RowOwner::NodeA;
  bool abRollMarked = false;  // the row carries an A/B position
  bool online = false;
  bool locked = false;
  std::shared_ptr<const nodes::RGBAImage> thumbnail;  // compared by identity
  friend bool operator==(const PlaylistRowState&, const PlaylistRowState&) = default;
};

// The password panel: one node, or nodes A and B. The names are shown
// quoted; the password fields start with what the keychain holds (or what
// the operator typed before a failed attempt, the failed field cleared).
struct PasswordPanelState {
  PasswordRequest request = PasswordRequest::None;
  std::string nodeANameField;
  std::string nodeBNameField;
  std::string nodeAPassword;
  std::string nodeBPassword;
  friend bool operator==(const PasswordPanelState&, const PasswordPanelState&) = default;
};

// A counter text with the number of leading characters drawn dimmed.
struct CounterText {
  std::string text;
  std::size_t dimmedCharacters = 0;
  friend bool operator==(const CounterText&, const CounterText&) = default;
};

struct PlaylistViewState {
  std::string title;  // the document's file name, "Untitled" before it has one
  bool edited = false;  // unsaved changes (the title's edited mark)
  std::vector<PlaylistRowState> rows;
  std::int64_t onAirRow = -1;
  // Scroll this row to the centre of the table (once, with this state).
  std::optional<std::int64_t> rowToCentre;

  // Controls.
  bool transportEnabled = false;  // the six transport buttons
  bool padLockEnabled = false;
  bool padUnlockEnabled = false;
  bool settingsEnabled = false;       // chain, loop and cue buttons
  bool nodeSelectorsEnabled = true;   // node pop-ups and the A/B roll button
  bool chainOn = false;
  bool loopOn = false;
  bool cueModeOn = false;
  bool abRollOn = false;
  bool showThumbnails = false;
  std::string nodeAName;
  std::string nodeBName;  // empty while A/B roll is off
  // The node pop-ups and their title fields ("Selected Node", "Node A",
  // "Node B").
  NodeMenus nodeMenus;
  std::string nodeAPopUpFieldTitle;
  std::string nodeBPopUpFieldTitle;
  std::string clipCountText;  // "3 items - Selection: 00:01:00:00"

  // Counters (time code texts) and progress (fractions, capped by the view).
  std::string itemElapsed;
  std::string itemRemaining;
  std::string itemTotal;
  std::string playlistElapsed;
  std::string playlistRemaining;
  std::string playlistTotal;
  CounterText bigElapsed;
  CounterText bigRemaining;
  double itemProgress = 0.0;
  double playlistProgress = 0.0;

  PasswordPanelState passwordPanel;

  friend bool operator==(const PlaylistViewState&, const PlaylistViewState&) = default;
};

class PlaylistView {
 public:
  virtual ~PlaylistView() = default;
  virtual void showState(const PlaylistViewState& state) = 0;
  // The window's frame, for the document's settings; none while not shown.
  virtual std::optional<nodes::WindowFrame> windowFrame() const = 0;
  // Shows the file (or folder) selected in the desktop's file manager.
  virtual void revealInFileManager(const std::filesystem::path& path) = 0;
  // Shows these clips in the media browser.
  virtual void revealClipsInMediaBrowser(const std::vector<std::string>& clipUniqueIDs) = 0;
  // Asks for the start time of the last clicked row; the answer goes to the
  // controller's setAbsoluteStartTimeOfLastClickedRow().
  virtual void askAbsoluteStartTime(double currentStartTimeInSeconds) = 0;
};

}  // namespace app
