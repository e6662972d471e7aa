#pragma once
// VideoPlaylistDocument: the document of one playlist. It owns the ordered
// rows (PlaylistItem) and the playlist's settings (loop, chain and cue modes,
// A/B roll over nodes A and B, the absolute start time, the window frame),
// reads and writes the playlist file (PlaylistDocumentFormat.h), keeps the
// timing the rows show (start times, chained blocks, playlist duration),
// assigns rows to node A or B in A/B roll, refreshes rows from the clip
// catalogue, answers the index queries of the window and the data source,
// keeps the undo history of its edits and carries the playlist's script
// commands. It plays nothing itself and holds no window code: the playlist
// window is its delegate and observes it.
//
// Ownership: shared (std::shared_ptr) by the application's document list and
// the window; the delegate and the data source are not owned.
//
// Threads: lives on the main thread; edits, undo, file reading and writing
// and every call into the delegate and the data source happen there. The
// plain properties (rows, IDs, modes, flags, selection, frame) are guarded by
// the document's lock, so that a single read or write from another thread is
// whole.
//
// Observation: observeKey() tells of changes of "loop", "chain", "cueMode"
// and "abRoll" (the window switches its controls by them) and of
// "documentEdited".
//
// Data safety:
// - Reading never writes. A file read with parts left out is reported (an
//   Error listing them, and a log line) and marked: writing over the file it
//   came from then needs SaveConfirmation::Confirmed.
// - Save As gives the playlist and every row new unique IDs only when the
//   write succeeds; a failed save leaves the document as it was.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/playlist/PlaylistDocumentDataSource.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/playlist/PlaylistItemAccessor.h"
#include "platform/UndoManager.h"
#include "nodes/playlist/VideoPlaylistDocumentDelegate.h"
#include "platform/Error.h"
#include "platform/Observable.h"
#include "platform/UserDefaults.h"

namespace nodes {

// "no row" in the index queries.
inline constexpr std::int64_t kNoClipIndex = -1;

// The node that plays a row: A (also the node of a playlist without A/B
// roll) or B.
enum class PlaylistNode { A = 1, B = 2 };

// Defaults read when a window is made for the document.
inline constexpr const char* kDefaultNodeAUniqueIDKey = "defaultNodeAUniqueID";
inline constexpr const char* kDefaultNodeBUniqueIDKey = "defaultNodeBUniqueID";
inline constexpr const char* kNoNodeUniqueID = "<None>";

// Undo action names of the document's edits.
inline constexpr const char* kUndoActionAdd = "Add";
inline constexpr const char* kUndoActionDelete = "Delete/Cut";
inline constexpr const char* kUndoActionReplace = "Replace";
inline constexpr const char* kUndoActionMove = "Move Clip";

// What a script's stop command leaves in the log.
inline constexpr const char* kScriptStopMessage = "STOPPED because we received a script command to stop";

// Files larger than this are refused unread.
inline constexpr std::size_t kMaxPlaylistFileBytes = 512u * 1024u * 1024u;

class VideoPlaylistDocument {
 public:
  using Rows = std::vector<std::shared_ptr<PlaylistItem>>;
  enum class DocumentChange { Done = 1, Undone = 2, Redone = 3, Cleared = 4 };
  enum class SaveOperation { Save = 1, SaveAs = 2 };
  enum class SaveConfirmation { NotConfirmed = 1, Confirmed = 2 };

  static constexpr const char* kWindowNibName = "VideoPlaylistWindow";

  // A new playlist: no rows, a new unique ID, chain mode on, the other modes
  // off, needDefaultValues YES.
  VideoPlaylistDocument();
  VideoPlaylistDocument(const VideoPlaylistDocument&) = delete;
  VideoPlaylistDocument& operator=(const VideoPlaylistDocument&) = delete;

  // ---- Collaborators (not owned) ----
  VideoPlaylistDocumentDelegate* delegate() const { return delegate_; }
  void setDelegate(VideoPlaylistDocumentDelegate* delegate) { delegate_ = delegate; }
  // The document's window, when it has one.
  VideoPlaylistDocumentDelegate* playlistWindowController() const { return delegate_; }
  PlaylistDocumentDataSource* dataSource() const { return dataSource_; }
  void setDataSource(PlaylistDocumentDataSource* dataSource) { dataSource_ = dataSource; }

  // The window's part of making its controllers: a missing node A takes the
  // default "defaultNodeAUniqueID" as it is ("<None>" included), a missing
  // node B takes "defaultNodeBUniqueID" unless that is "<None>".
  void adoptDefaultNodes(const platform::UserDefaults& defaults);

  platform::ObservationToken observeKey(std::string key, platform::ObservableObject::KeyCallback callback);

  // ---- Properties ----
  Rows playlist() const { return get(&State::playlist); }
  // Replaces the rows; no undo, no change mark (reading and filling use it).
  void setPlaylist(Rows rows) { set(&State::playlist, std::move(rows)); }
  Rows clips() const { return playlist(); }
  std::size_t clipCount() const;
  std::shared_ptr<PlaylistItem> clipAtIndex(std::int64_t index) const;  // nullptr out of range
  std::shared_ptr<PlaylistItem> firstItem() const { return clipAtIndex(0); }

  std::string uniqueID() const { return get(&State::uniqueID); }
  void setUniqueID(std::string uniqueID) { set(&State::uniqueID, std::move(uniqueID)); }
  std::optional<std::string> nodeAName() const { return get(&State::nodeAName); }
  void setNodeAName(std::optional<std::string> v) { set(&State::nodeAName, std::move(v)); }
  std::optional<std::string> nodeBName() const { return get(&State::nodeBName); }
  void setNodeBName(std::optional<std::string> v) { set(&State::nodeBName, std::move(v)); }
  std::optional<std::string> nodeAUniqueID() const { return get(&State::nodeAUniqueID); }
  void setNodeAUniqueID(std::optional<std::string> v) { set(&State::nodeAUniqueID, std::move(v)); }
  std::optional<std::string> nodeBUniqueID() const { return get(&State::nodeBUniqueID); }
  void setNodeBUniqueID(std::optional<std::string> v) { set(&State::nodeBUniqueID, std::move(v)); }
  // Node B counts as set when its unique ID is neither none, empty nor "<None>".
  bool hasNodeB() const;
  std::optional<std::string> nodeUniqueID(PlaylistNode node) const {
    return node == PlaylistNode::A ? nodeAUniqueID() : nodeBUniqueID();
  }

  // The mode setters store the flag, tell the observers and, when the flag
  // changed and the playlist has rows, mark the document changed.
  bool chain() const { return get(&State::chain); }
  void setChain(bool v) { setMode(&State::chain, "chain", v); }
  bool loop() const { return get(&State::loop); }
  void setLoop(bool v) { setMode(&State::loop, "loop", v); }
  bool cueMode() const { return get(&State::cueMode); }
  void setCueMode(bool v) { setMode(&State::cueMode, "cueMode", v); }
  bool abRoll() const { return get(&State::abRoll); }
  void setAbRoll(bool v) { setMode(&State::abRoll, "abRoll", v); }

  bool needDefaultValues() const { return get(&State::needDefaultValues); }
  void setNeedDefaultValues(bool v) { set(&State::needDefaultValues, v); }
  double absoluteStartTime() const { return get(&State::absoluteStartTime); }
  void setAbsoluteStartTime(double v) { set(&State::absoluteStartTime, v); }
  double playlistDurationInSeconds() const { return get(&State::playlistDurationInSeconds); }
  void setPlaylistDurationInSeconds(double v) { set(&State::playlistDurationInSeconds, v); }
  // The text of the running start time after the last row.
  std::optional<std::string> playlistDurationAsString() const { return get(&State::playlistDurationAsString); }
  void setPlaylistDurationAsString(std::optional<std::string> v) {
    set(&State::playlistDurationAsString, std::move(v));
  }
  std::set<std::size_t> selectedClipIndexes() const { return get(&State::selectedClipIndexes); }
  void setSelectedClipIndexes(std::set<std::size_t> v) { set(&State::selectedClipIndexes, std::move(v)); }
  WindowFrame windowFrame() const { return get(&State::windowFrame); }
  void setWindowFrame(WindowFrame v) { set(&State::windowFrame, v); }
  PlaylistItemAccessor playlistItemAccessor() const { return get(&State::playlistItemAccessor); }
  void setPlaylistItemAccessor(PlaylistItemAccessor v) { set(&State::playlistItemAccessor, std::move(v)); }

  // ---- Sending to nodes (A/B roll) ----
  // The node's copy must be sent again in full at the next start.
  bool dirtyOnNodeA() const { return get(&State::dirtyOnNodeA); }
  void setDirtyOnNodeA(bool v) { set(&State::dirtyOnNodeA, v); }
  bool dirtyOnNodeB() const { return get(&State::dirtyOnNodeB); }
  void setDirtyOnNodeB(bool v) { set(&State::dirtyOnNodeB, v); }
  void setDirtyOnNode(PlaylistNode node, bool dirty);
  // Reads and clears the flag of the node that is about to receive the
  // playlist, and only that node's flag.
  bool takeDirtyFlag(PlaylistNode node);
  // The node a start from this clip (none: from row 0) goes to: with A/B
  // roll and node B set, the node of the row's A/B position; otherwise A.
  // None when the clip is not in the playlist.
  std::optional<PlaylistNode> nodeForStartClip(const std::optional<std::string>& playbackUniqueID) const;

  // ---- Queries (rows from 0; kNoClipIndex for none) ----
  // The document's one accessor, re-pointed at the row (no item out of range).
  PlaylistItemAccessor playlistItemAccessorForClipAtIndex(std::int64_t index);
  std::int64_t clipIndexWithUniqueID(std::string_view playbackUniqueID) const;
  std::int64_t clipIndexWithMediaItemUniqueID(std::string_view mediaItemUniqueID) const;
  // Node A: the last row with status 6; node B: the last such row at A/B
  // position 2; any other node: none.
  std::int64_t holdLastFrameClipIndexForNodeUniqueID(std::string_view nodeUniqueID) const;
  // The first row after `index` that is online and on the node.
  std::int64_t nextClipIndexAfterIndex(std::int64_t index, std::string_view nodeUniqueID) const;
  std::shared_ptr<PlaylistItem> nextClipAfterIndex(std::int64_t index, std::string_view nodeUniqueID) const;
  // The nearest row before `index` that is online, on the node and starts a
  // block (the row before it does not end in "Chain"); chain mode is not
  // taken into account.
  std::int64_t previousClipIndexBeforeIndex(std::int64_t index, std::string_view nodeUniqueID) const;
  std::shared_ptr<PlaylistItem> previousClipBeforeIndex(std::int64_t index, std::string_view nodeUniqueID) const;
  // The row status number of a node status word: "PLAYING" 3, "PAUSED" 1,
  // "CUED" 2, anything else 0 (exact case).
  static std::int32_t statusWithString(std::string_view status);
  // Node A's catalogue clips of the media file at the path; when none, the
  // clips of the file's identity hash on any node. Empty without a data source.
  PlaylistDocumentDataSource::PlaylistItems clipsWithMediaItemAtPath(const std::filesystem::path& path) const;
  // The name the label preferences hold for a colour label ("Label_Name_%ld",
  // a string), else "Red" ... "Gray" for 1 to 7, "" otherwise.
  static std::string preferenceNameForLabel(std::int64_t labelIndex,
                                            const platform::UserDefaults* labelPreferences = nullptr);

  // ---- Computations ----
  // Each row's start time (from absoluteStartTime, or from 0 at every block
  // without one; the day wraps once the running time passes 86400 s), each
  // chained block's duration and the playlist's; then the window redraws.
  // A row runs on into the next when its "Clip End Behaviour" is "Chain", or
  // "Normal" or absent in chain mode.
  void updatePlaylistMovieAndStartTimes();
  // With A/B roll and node B: row 0 on node A, each further row on the node
  // of the row before when that one ends in "Chain", else on the other node;
  // otherwise every row at position 0. Then, with a data source, each row is
  // refreshed from its node's catalogue clip (marked offline when there is
  // none) and a missing thumbnail is requested.
  void updateBubbleDirections();
  // One row's position, refreshed from the first online catalogue clip of its
  // media item on its node (offline when there is none).
  void setAbRollClipPosition(ABRollClipPosition position, const std::shared_ptr<PlaylistItem>& clip);
  // The playlist start that puts the clicked row (the window's last clicked
  // row) at `startTime`: 0 stays 0; back over the rows before it, wrapping
  // below 0 by a day.
  double playlistAbsoluteStartTimeWithStartTime(double startTime) const;
  double playlistAbsoluteStartTimeWithStartTime(double startTime, std::int64_t clickedRow) const;

  // ---- Editing, with undo ----
  // Each edit registers its reversal on undoManager() under its action name,
  // marks the document changed (undo and redo count back), recomputes the
  // A/B positions (A/B roll with node B) and the start times. Out-of-range
  // indexes change nothing and answer false.
  bool insertClip(std::shared_ptr<PlaylistItem> item, std::size_t index);          // index <= count; "Add"
  bool removeClipAtIndex(std::size_t index);                                       // "Delete/Cut"
  bool replaceClipAtIndex(std::size_t index, std::shared_ptr<PlaylistItem> item);  // "Replace"
  // Moves a row so that it ends at `to` (both < count); "Move Clip".
  bool moveClip(std::size_t from, std::size_t to);
  // Changes a row's fields; undo restores them, leaving the row's playback
  // state (status, lock, A/B position, start time, thumbnail) as it is then.
  bool editClipAtIndex(std::size_t index, const std::function<void(PlaylistItemFields&)>& change,
                       std::string actionName);

  // One change of the rows made by the editing calls above, also when undo
  // or redo replays it; a move is a removal followed by an insertion. The
  // window keeps the node's copy of the playlist in step through it.
  struct RowEdit {
    enum class Kind { Inserted, Removed, Replaced };
    Kind kind;
    std::size_t index;
    std::shared_ptr<PlaylistItem> item;  // the row inserted, removed or put in
  };
  using RowEditHandler = std::function<void(const RowEdit&)>;
  // One handler; empty removes it.
  void setRowEditHandler(RowEditHandler handler) { rowEditHandler_ = std::move(handler); }

  platform::UndoManager& undoManager() { return undoManager_; }
  void updateChangeCount(DocumentChange change);
  bool isDocumentEdited() const { return changeCount_ != 0; }

  // ---- File ----
  // "Document Settings" as it would be written now (with the window's frame
  // when there is a window, else the frame last read or set).
  platform::Dictionary settingsDictionary();
  PlaylistDocumentSettings currentSettings();
  // The whole file. WrongDocumentType for another type; WriteFailed when a
  // value cannot be written.
  platform::Result<std::string> dataOfType(std::string_view typeName);
  // Reads a file into this document. Fails (document unchanged) for another
  // type or when nothing can be read. Parts left out make readLosses().
  platform::Status readFromData(std::string_view data, std::string_view typeName);
  platform::Status readFromURL(const std::filesystem::path& path, std::string_view typeName);
  // Writes atomically. Save As renews the IDs (see the top). A write over the
  // file read with losses needs `confirmation` (SaveNeedsConfirmation).
  platform::Status writeToURL(const std::filesystem::path& path, std::string_view typeName, SaveOperation operation,
                              SaveConfirmation confirmation = SaveConfirmation::NotConfirmed);
  const std::optional<std::filesystem::path>& fileURL() const { return fileURL_; }

  // What the last read left out (ReadWithLosses, "skipped" lists it); none
  // after a whole read and after a confirmed save.
  const std::optional<platform::Error>& readLosses() const { return readLosses_; }
  bool wasReadWithLosses() const { return readLosses_.has_value(); }
  bool saveNeedsConfirmation(const std::filesystem::path& target) const;

  // ---- Script commands ----
  void handlePushPlaybackButton();
  void handleStartPlayback() { handlePushPlaybackButton(); }
  void handleStopPlayback();
  void handlePausePlayback();
  bool asIsPlaying() const;
  std::int64_t asPlayingClipIndex() const;  // from 1 while playing; 0 otherwise
  double asDuration() const { return playlistDurationInSeconds(); }
  double asElapsedTime() const;
  double asRemainingTime() const;

 private:
  struct State {
    double playlistDurationInSeconds = 0.0;
    std::optional<std::string> playlistDurationAsString;
    Rows playlist;
    std::string uniqueID;
    std::optional<std::string> nodeAName;
    std::optional<std::string> nodeBName;
    std::optional<std::string> nodeAUniqueID;
    std::optional<std::string> nodeBUniqueID;
    bool chain = true;
    bool loop = false;
    bool cueMode = false;
    bool abRoll = false;
    bool needDefaultValues = true;
    bool dirtyOnNodeA = false;
    bool dirtyOnNodeB = false;
    double absoluteStartTime = 0.0;
    PlaylistItemAccessor playlistItemAccessor;
    std::set<std::size_t> selectedClipIndexes;
    WindowFrame windowFrame;
  };

  template <typename T>
  T get(T State::*field) const {
    std::lock_guard guard(lock_);
    return state_.*field;
  }
  template <typename T, typename V>
  void set(T State::*field, V&& value) {
    std::lock_guard guard(lock_);
    state_.*field = std::forward<V>(value);
  }
  void setMode(bool State::*field, const char* key, bool value);
  std::optional<std::size_t> indexOfClip(const std::shared_ptr<PlaylistItem>& item) const;

  // Editing (VideoPlaylistDocumentEditing.cpp).
  void rowsDidChange();
  void tellRowEdit(RowEdit::Kind kind, std::size_t index, const std::shared_ptr<PlaylistItem>& item);
  bool removeClip(const std::shared_ptr<PlaylistItem>& item);
  void restoreClipFields(const std::shared_ptr<PlaylistItem>& item, const PlaylistItemFields& fields);

  // Catalogue refresh (VideoPlaylistDocument.cpp).
  void refreshRowsFromCatalogue(const Rows& rows, const std::string& nodeUniqueID);
  void takeCatalogueClip(PlaylistItem& row, const PlaylistItem& clip);

  // Files (VideoPlaylistDocumentFile.cpp).
  platform::Status readContents(std::string_view data, std::string_view typeName,
                                const std::optional<std::filesystem::path>& path);
  void applyContents(PlaylistFileContents& contents);
  std::string logName() const;

  mutable std::mutex lock_;
  State state_;  // guarded by lock_

  // Main thread only.
  VideoPlaylistDocumentDelegate* delegate_ = nullptr;  // not owned; the window outlives its tie
  PlaylistDocumentDataSource* dataSource_ = nullptr;   // not owned; outlives the document
  platform::UndoManager undoManager_;
  RowEditHandler rowEditHandler_;
  std::int64_t changeCount_ = 0;
  std::uint64_t countedGroup_ = 0;  // the undo group whose edits were last counted as a change
  std::optional<std::filesystem::path> fileURL_;
  std::optional<platform::Error> readLosses_;
  platform::ObservableObject observers_;
};

}  // namespace nodes
