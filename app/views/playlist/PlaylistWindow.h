#pragma once
// PlaylistWindow: the Qt window of one playlist document: the node pop-ups,
// the transport, lock and mode buttons (placed by layoutNodeControls), the
// rows (DraggableTableView), the two progress bars and the time counters,
// the clip count and the password panel, laid out by PlaylistWindow.ui. It
// draws the PlaylistViewState its controller hands it and forwards the
// operator's clicks and keys to the controller; it decides nothing. QString
// stops here.
//
// Owned by the window handle (PlaylistWindowHandle) with the controller,
// which outlives it or detaches it first (detachController()). GUI thread.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/playlist/PlaylistView.h"
#include "app/playlist/PlaylistWindowLayout.h"


namespace Ui {
class PlaylistWindow;
}

namespace app {
class PlaylistWindowController;
}

class QMenuBar;

namespace app::views {

class DraggableTableView;
class KeyboardAwareWindow;
class NodePasswordPanel;
class PlaybackProgressView;

class PlaylistWindow final : public QWidget, public PlaylistView {
  Q_OBJECT

 public:
  explicit PlaylistWindow(PlaylistWindowController& controller, QWidget* parent = nullptr);
  ~PlaylistWindow() override;

  // Stops forwarding to the controller and leaves it without a view.
  void detachController();

  // PlaylistView.
  void showState(const PlaylistViewState& state) override;
  std::optional<nodes::WindowFrame> windowFrame() const override;
  void revealInFileManager(const std::filesystem::path& path) override;
  void askAbsoluteStartTime(double currentStartTimeInSeconds) override;
  void revealClipsInMediaBrowser(const std::vector<std::string>& clipUniqueIDs) override;
  // How the window reaches the media browser (set by the shell).
  void setMediaBrowserRevealer(std::function<void(const std::vector<std::string>&)> revealer) {
    mediaBrowserRevealer_ = std::move(revealer);
  }

  DraggableTableView* tableView() const { return table_; }
  // The window's own menu bar (the application menus are added by the shell).
  QMenuBar* menuBar() const { return menuBar_; }
  // Told when the window becomes the active one, before the controller is.
  void setBecameKeyHandler(std::function<void()> handler) { becameKey_ = std::move(handler); }
  // Whether the window's document is the application's current one (see
  // PlaylistWindowController::setCurrentDocumentQuery).
  void setCurrentDocumentQuery(std::function<bool()> query);
  // Asked before the window closes; false keeps it open.
  void setCloseGuard(std::function<bool()> guard) { closeGuard_ = std::move(guard); }
  PlaybackProgressView* itemProgressView() const;
  PlaybackProgressView* playlistProgressView() const;

 signals:
  // The operator closed the window.
  void windowClosed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void connectControls();
  void showNodeControls(const PlaylistViewState& state);
  void placeNodeControls(bool abRoll, bool animated);

  std::unique_ptr<Ui::PlaylistWindow> ui_;
  PlaylistWindowController* controller_;  // not owned; null once detached
  DraggableTableView* table_;             // owned by Qt (child)
  QMenuBar* menuBar_;                     // owned by Qt (child)
  KeyboardAwareWindow* keys_;             // owned by Qt (child)
  std::function<bool()> closeGuard_;
  std::function<void()> becameKey_;
  std::function<void(const std::vector<std::string>&)> mediaBrowserRevealer_;
  NodePasswordPanel* passwordPanel_;      // owned by Qt (child)
  PlaylistViewState shown_;
  bool shownOnce_ = false;
  NodePopUpWidthsWanted popUpWidthsWanted_;  // what the selected node names need
};

}  // namespace app::views
