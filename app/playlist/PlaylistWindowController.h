#pragma once
// PlaylistWindowController: every decision of a playlist window, without Qt.
// It drives node A, or the A/B pair of nodes A and B, of one playlist
// document through PlaylistNodeControl and follows what the nodes report:
// which clip plays on which node, the clip on air, the row status marks, the
// counters and progress bars, auto-cue after a clip ends, and the transport
// (play, pause, stop, cue, skip, double click) with its A/B roll rules.
// After each change it hands a plain PlaylistViewState to its PlaylistView.
//
// Ownership: made by the window that shows the document; shares the document
// and is its delegate (cleared at destruction). The node control and the view
// are not owned: the node control outlives every window, the view outlives
// its tie to this controller (setView(nullptr) before it goes).
//
// Threads: main thread only. Node notifications arrive there (the
// PlaylistWindowObservers forward them with the sender's node unique ID);
// delayed messages (auto-cue) run on the main queue on Clock::current() and
// are cancelled together by Stop and the skips. Node answers to unlocking and
// to the redundant-mode switch are read when they arrive, or at
// kNodeAnswerTimeLimit when a node stays silent.
//
// Deviations from the node model's older behaviour, on purpose:
// - Stop and Pause in A/B roll act on the node of the pair that plays this
//   playlist, also when node A has moved on and only node B has it on air.
// - The block counters count from the first row of the block on air and
//   carry over midnight (PlaylistCounters.h).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/playlist/DelayedMessages.h"
#include "app/playlist/NodeAnswerWait.h"
#include "app/playlist/PlaybackProgressViewDelegate.h"
#include "app/playlist/PlaylistEditor.h"
#include "app/playlist/PlaylistNodeControl.h"
#include "app/playlist/PlaylistNodeSelection.h"
#include "app/playlist/PlaylistTableActions.h"
#include "app/playlist/PlaylistView.h"
#include "nodes/playlist/CVNTimeFormatter.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "nodes/playlist/VideoPlaylistDocumentDelegate.h"
#include "platform/Keychain.h"
#include "platform/Observable.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace app {

// Defaults read by the window (registered by the application at start-up).
inline constexpr const char* kAutoCueDefaultsKey = "autoCue";
inline constexpr const char* kAutoCueDelayDefaultsKey = "autoCueDelay";
inline constexpr double kRegisteredAutoCueDelaySeconds = 2.0;
inline constexpr const char* kExternalMixerAutoCueNextItemKey = "externalMixerAutoCueNextItem";
inline constexpr const char* kChainModeDefaultsKey = "chainMode";
inline constexpr const char* kCueModeDefaultsKey = "cueMode";
inline constexpr const char* kLoopModeDefaultsKey = "loopMode";
inline constexpr const char* kABRollDefaultsKey = "abRoll";
inline constexpr const char* kShowThumbnailsDefaultsKey = "ShowThumbnails";
// The node name shown while no node is known yet.
inline constexpr const char* kLookingForNodesName = "Looking for nodes...";
// Posted with the new "lockedClips" array of this playlist as object.
inline constexpr const char* kClipsUniqueIDToLockInInspectorNotification = "clipsUniqueIDToLockInInspector";
// Posted (object: the node unique ID) when the window picks node A by itself;
// the media browser follows it.
inline constexpr const char* kSelectNodeWithUniqueIDNotification = "selectNodeWithUniqueID";
// What the window tells the clip inspector (object: the document).
inline constexpr const char* kPlaylistWindowDidBecomeKeyNotification = "playlistWindowDidBecomeKey";
inline constexpr const char* kPlaylistSelectionChangedNotification = "playlistSelectionChanged";
inline constexpr const char* kInvoqueInspectorSaveActionsForClipNotification = "invoqueInspectorSaveActionsForClip";
// Skip to previous restarts the clip on air past this many seconds into it.
inline constexpr double kRestartClipThresholdSeconds = 2.0;
// The default with the local folders of the nodes' media folders.
inline constexpr const char* kMediaFoldersLocalEquivalentPathsKey = "MediaFoldersLocalEquivalentPaths";

// A key typed in the playlist window (Command is the Control key here,
// Option the Alt key).
struct PlaylistKey {
  enum class Kind { Character, LeftArrow, RightArrow, Space };
  Kind kind = Kind::Character;
  char32_t character = 0;
  bool command = false;
  bool option = false;
};

class PlaylistWindowController final : public nodes::VideoPlaylistDocumentDelegate,
                                       public PlaylistEditorHost,
                                       public PlaylistTableActions,
                                       public PlaybackProgressViewDelegate {
 public:
  PlaylistWindowController(std::shared_ptr<nodes::VideoPlaylistDocument> document, PlaylistNodeControl& nodeControl,
                           platform::UserDefaults& defaults = platform::UserDefaults::standard(),
                           platform::Keychain& keychain = platform::Keychain::standard());
  ~PlaylistWindowController() override;
  PlaylistWindowController(const PlaylistWindowController&) = delete;
  PlaylistWindowController& operator=(const PlaylistWindowController&) = delete;

  const std::shared_ptr<nodes::VideoPlaylistDocument>& document() const { return document_; }
  // Not owned; the current state is shown at once.
  void setView(PlaylistView* view);
  // The state last built (also without a view).
  const PlaylistViewState& viewState() const { return state_; }

  // --- Loading ---
  // Default modes and nodes for a new document, node A when it has none (the
  // first connected node), the controls and the playback state of the nodes.
  void windowDidLoad();
  void setDefaultValues();
  void updatePlaybackStatusAfterAwakeFromNib();
  // The document was read again from its file: rows, modes and marks anew.
  void documentWasReverted();

  // --- Node notifications: sender's node unique ID and the userInfo ---
  void playbackStatusDidChange(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void clipUniqueIDDidChange(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void clipPositionDidChange(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void playlistUniqueIDDidChange(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void loopModeDidChange(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void chainModeDidChange(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void cueModeDidChange(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void lockedClipsChanged(std::string_view senderNodeUniqueID, const platform::Dictionary& userInfo);
  void authenticationDidChange();
  void nodeListDidChange();
  // The node's playlist changed: the rows follow it when it plays this one.
  void playlistDidChange(std::string_view senderNodeUniqueID);
  void nodeConnectionDidClose(std::string_view nodeUniqueID);
  void newThumbnailIsAvailable(const std::shared_ptr<const nodes::RGBAImage>& image,
                               const platform::Dictionary& userInfo);
  void clipsDidChange(const std::vector<std::string>& clipUniqueIDs);
  void inspectorDidChangeClips(const platform::Dictionary& userInfo);

  // --- Node pop-ups and A/B roll ---
  // Rebuilds both pop-ups (also when one is about to open).
  void populateNodePopUpButton();
  void nodeAPopUpButtonPushed(std::size_t index);
  void nodeBPopUpButtonPushed(std::size_t index);
  void ABRollButtonPushed(bool on);

  // --- Modes and display ---
  void chainButtonPushed(bool on);
  void loopButtonPushed(bool on);
  void cueModeButtonPushed(bool on);
  void showThumbnailsPushed(bool on);
  void keyDown(const PlaylistKey& key);
  // The answer of the absolute start time panel.
  void setAbsoluteStartTimeOfLastClickedRow(double startTimeInSeconds);
  // The local file of a row: the node folder's local equivalent, else the
  // item's own path, else its folder; none when nothing exists.
  std::optional<std::filesystem::path> equivalentLocalPathForClip(const nodes::PlaylistItem& item) const;
  PlaylistEditor& editor() { return editor_; }

  // --- Table (PlaylistTableActions) ---
  std::size_t numberOfRows() const override { return document_->clipCount(); }
  std::shared_ptr<nodes::PlaylistItem> itemAtRow(std::size_t row) const override;
  bool showThumbnails() const override { return showThumbnails_; }
  bool rowNodeOffersOverlayLogo(std::size_t row) const override;
  // Before the document takes the new rows, the clip inspector saves pending
  // edits of the old ones; after it, the inspector follows the new rows.
  void tableSelectionDidChange(const std::set<std::size_t>& selectedRows) override;
  // The window became the operator's key window.
  void windowDidBecomeKey();
  void updateClipInspectorContents();
  // Whether this window's document is the application's current one (the
  // inspector hears only from that one); none: always.
  void setCurrentDocumentQuery(std::function<bool()> query) { isCurrentDocument_ = std::move(query); }
  void setLastClickedRow(std::int64_t row) override { lastClickedRow_ = row; }
  void rowClicked(std::int64_t row) { setLastClickedRow(row); }
  void doubleClickRow(std::int64_t row) override { doubleClick(row); }
  void doubleClick(std::int64_t row);
  bool canModifyTableView() const override { return true; }
  void removeSelectedObjects(const std::string& operationName) override;
  std::optional<std::string> copyRows(const std::set<std::size_t>& rows) override { return editor_.copyRows(rows); }
  bool pasteRows(std::string_view itemsArchive) override;
  void undo() override;
  void redo() override;
  bool canUndo() const override { return document_->undoManager().canUndo(); }
  bool canRedo() const override { return document_->undoManager().canRedo(); }
  std::string undoMenuItemTitle() const override { return document_->undoManager().undoMenuItemTitle(); }
  std::string redoMenuItemTitle() const override { return document_->undoManager().redoMenuItemTitle(); }
  std::optional<std::string> writeRowsForDrag(const std::set<std::size_t>& rows) override {
    return editor_.writeRowsForDrag(rows);
  }
  DropOperation validateDrop(DropSource source, std::int64_t row, bool dropAbove, bool copyOnly) override {
    return editor_.validateDrop(source, row, dropAbove, copyOnly);
  }
  bool acceptDrop(const PlaylistDrop& drop, std::int64_t row) override;
  void clipDraggedToTrash() override;
  void revealInFileManager() override;
  void revealInMediaBrowser() override;
  void showAbsoluteStartTimePanel() override;

  // --- Transport ---
  void playButtonPushed() override;
  void pauseButtonPushed() override;
  void stopButtonPushed() override;
  void cueButtonPushed();
  void skipToPreviousButtonPushed();
  void skipToNextButtonPushed();
  void playClipAtIndex(std::int64_t index);
  void cueClipAtIndex(std::int64_t index);
  void autoCueNode(const std::string& nodeUniqueID);
  void forceCueNode(const std::string& nodeUniqueID);
  // Without A/B roll node A's name; with it the unique ID of the leading node.
  std::string masterNodeName() const;
  void externalMixerTriggeredPlaybackStart();
  void externalMixerTriggeredPlaybackStop();

  // --- Lock, unlock and redundant mode ---
  void padLockButtonPushed();
  void padUnlockButtonPushed() { tryUnlockingNodes(); }
  // Checks running schedules, reachability and redundant mode, then unlocks
  // with the keychain's passwords or asks the operator for them.
  void tryUnlockingNodes() override;
  // OK in the password panel: unlocks node A (and node B with A/B roll); the
  // outcome is checked when the nodes answer.
  void nodePasswordsOKButtonPushed(const PlaylistNodeSelection::Passwords& passwords);
  // The operator closed the password panel without unlocking.
  void passwordRequestDismissed();
  void enableSlaveMode();
  void disableSlaveMode();
  // The transport buttons' contextual menu (its one item puts node A in
  // redundant mode) is offered only while node A is unlocked and not already
  // in redundant mode.
  bool contextualMenuForButton() const;

  // --- Controls and tracking ---
  void updateUIPlaybackControlStatus();
  void updateCurrentOnAirClipIndex();
  void updateCounters();
  void updateItemTotalDuration();
  void resetCounters();
  void resetCountersForNode(std::string_view senderNodeUniqueID, bool fromA, bool fromB);
  void enablePlaybackControls();
  void disablePlaybackControls();
  void enableSettingsControls();
  void disableSettingsControls();

  // --- State ---
  bool isRunning() const { return isRunning_; }
  void setIsRunning(bool running);
  std::int64_t currentOnAirClipIndex() const { return currentOnAirClipIndex_; }
  std::int64_t currentlyPlayingOnNodeAClipIndex() const { return nodeAClipIndex_; }
  std::int64_t currentlyPlayingOnNodeBClipIndex() const { return nodeBClipIndex_; }
  const std::optional<std::string>& currentlyPlayingNodeUniqueID() const { return currentlyPlayingNodeUniqueID_; }
  // The lowest selected row; none when nothing is selected.
  std::optional<std::int64_t> selectedRow() const;
  // Delayed messages still pending (auto-cues).
  std::size_t pendingDelayedMessageCount() const { return delayed_.pendingCount(); }

  // --- VideoPlaylistDocumentDelegate ---
  void updateTableView() override;
  std::optional<nodes::WindowFrame> windowFrame() const override;
  std::int64_t lastClickedRow() const override { return lastClickedRow_; }
  // --- Scrubbing in the item progress bar (PlaybackProgressViewDelegate) ---
  bool takesMoviePosition() const override { return true; }
  void mouseDownInProgressView(const void* sender, bool commandKeyHeld) override;
  // Scrubs node A while it plays this playlist.
  void setMoviePosition(float fraction, const void* sender) override;
  void mouseUpInProgressView(const void* sender, bool commandKeyHeld) override;
  // --- PlaylistEditorHost ---
  void rowsEdited(const nodes::VideoPlaylistDocument::RowEdit& edit) override;
  void reloadTable() override { updateTableView(); }
  bool isPlaying() const override { return currentOnAirClipIndex_ >= 0; }
  bool isPaused() const;
  std::int64_t currentlyPlayingClipIndex() const override { return currentOnAirClipIndex_; }
  double elapsedTimeInSeconds() const override { return counters_.playlistElapsed; }
  double remainingTimeInSeconds() const override { return counters_.playlistRemaining; }

 private:
  // Posts `name` (object: the document) when this is the current document.
  void postToClipInspector(const char* name);
  // One node's status dictionary as the window reads it.
  struct NodeReading {
    std::string nodeUniqueID;
    bool known = false;  // the data source has a status for it
    std::int32_t status = 0;
    bool reportsThisPlaylist = false;
    std::string clipUniqueID;
    std::int64_t clipIndex = -1;
    double position = 0.0;
    bool isAuthenticated = false;
  };
  // The values behind the time fields and progress bars.
  struct Counters {
    double itemElapsed = 0.0;
    double itemRemaining = 0.0;
    double itemTotal = 0.0;
    double playlistElapsed = 0.0;
    double playlistRemaining = 0.0;
    double itemProgress = 0.0;
    double playlistProgress = 0.0;
  };
  enum class Gate { Play = 1, Cue = 2, DoubleClick = 3 };
  // Batches the view update of one operator or node event into one push.
  class Change {
   public:
    explicit Change(PlaylistWindowController& owner) : owner_(owner) { ++owner_.changeDepth_; }
    ~Change() {
      if (--owner_.changeDepth_ == 0) owner_.render();
    }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

   private:
    PlaylistWindowController& owner_;
  };

  // Node identity.
  std::string nodeAUniqueID() const;
  std::string nodeBUniqueID() const;  // "" when none is set
  bool isABActive() const;
  bool isForThisWindow(std::string_view nodeUniqueID) const;
  bool reportsThisPlaylist(const platform::Dictionary& dictionary) const;
  NodeReading readNode(const std::string& nodeUniqueID) const;
  NodeReading readNodeA() const { return readNode(nodeAUniqueID()); }
  NodeReading readNodeB() const { return readNode(nodeBUniqueID()); }
  std::int64_t clipIndexWithUniqueID(std::string_view playbackUniqueID) const;
  std::string ownerNodeOfRow(std::int64_t row) const;
  bool isNodeReachable(const std::string& nodeUniqueID) const;
  bool nodePlaylistMatchesRows(std::string_view nodeUniqueID) const;
  void afterNodeChoice();
  void observeDocumentModes();

  // Tracking.
  void resetStaleRows(std::int64_t keptRow, bool fromA, bool fromB);
  void unlockAllItems();
  void setItemLocked(std::string_view playbackUniqueID, bool locked);

  // Transport.
  bool passesAuthenticationGate(Gate gate);
  std::int64_t startRow() const;
  void followUp(const std::string& nodeUniqueID, std::int32_t status);
  void scheduleAutoCue(const std::string& nodeUniqueID);
  void cueNextClip(const std::string& nodeUniqueID, bool force);
  void sendDocumentFromRow(std::int64_t row, bool cue);
  std::optional<std::string> playbackUniqueIDOfRow(std::int64_t row) const;
  void playlistPlaybackPlay(const std::string& nodeUniqueID, const std::optional<std::string>& clipUniqueID);
  void skipToPreviousWithABRoll();
  void skipToPreviousOnNodeA(const NodeReading& a);
  void skipToNextOnNodeA(const NodeReading& a);

  // Lock and redundant mode.
  bool confirmStoppingSchedules();
  bool nodesAreReachable();
  void unlockWith(const PlaylistNodeSelection::Passwords& passwords);
  void showPasswordPanel(PasswordRequest request, std::string passwordA, std::string passwordB);
  void checkIfUnlocksSucceeded(NodeUnlockOutcome outcome, const PlaylistNodeSelection::Passwords& passwords);
  void stopAndClearPendingSchedule(bool nodeB);
  void checkIfSlaveModeOnSucceeded(const NodeAnswerWait::Replies& replies);
  void checkIfSlaveModeOffSucceeded();
  void keepAnswerWait(std::shared_ptr<NodeAnswerWait> wait);

  // View.
  double autoCueDelaySeconds() const;
  void render();
  PlaylistViewState buildState() const;

  std::shared_ptr<nodes::VideoPlaylistDocument> document_;
  PlaylistNodeControl& nodeControl_;  // not owned; outlives every window
  platform::UserDefaults& defaults_;  // not owned; process-wide
  PlaylistView* view_ = nullptr;      // not owned; outlives its tie (setView(nullptr))

  std::int64_t nodeAClipIndex_ = -1;
  std::int64_t nodeBClipIndex_ = -1;
  std::optional<std::string> currentlyPlayingNodeUniqueID_;
  std::int64_t currentOnAirClipIndex_ = -1;
  std::int64_t lastClickedRow_ = -1;
  bool isRunning_ = false;
  bool showThumbnails_ = false;
  std::int32_t clipPlaybackStatusBeforeScrub_ = 0;
  bool nodeANeedsClearSchedule_ = false;
  bool nodeBNeedsClearSchedule_ = false;
  std::optional<std::vector<std::string>> lastLockedClips_;
  Counters counters_;
  nodes::CVNTimeFormatter timeCodeFormatter_;

  // Controls.
  bool transportEnabled_ = false;
  bool padLockEnabled_ = false;
  bool padUnlockEnabled_ = false;
  bool settingsEnabled_ = true;
  PasswordPanelState passwordPanel_;
  std::optional<std::int64_t> rowToCentre_;

  PlaylistViewState state_;
  int changeDepth_ = 0;
  std::vector<platform::ObservationToken> documentObservations_;
  std::vector<std::shared_ptr<NodeAnswerWait>> answerWaits_;
  PlaylistNodeSelection selection_;
  std::function<bool()> isCurrentDocument_;
  PlaylistEditor editor_;
  DelayedMessages delayed_;  // last: its messages refer to the fields above
};

}  // namespace app
