#pragma once
// PlaylistWindow: the Qt window of one playlist document: the rows, the
// transport buttons, the two progress bars and the time counters, laid out by
// PlaylistWindow.ui. It draws the PlaylistViewState its controller hands it
// and forwards the operator's clicks to the controller; it decides nothing.
// QString stops here.
//
// Owned by the window handle (PlaylistWindowHandle) with the controller,
// which outlives it or detaches it first (detachController()). GUI thread.

#include <QWidget>
#include <memory>
#include <optional>

#include "app/PlaylistView.h"

class QTableWidget;

namespace Ui {
class PlaylistWindow;
}

namespace app {
class PlaylistWindowController;
}

namespace app::views {

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

  QTableWidget* tableView() const;
  PlaybackProgressView* itemProgressView() const;
  PlaybackProgressView* playlistProgressView() const;

 signals:
  // The operator closed the window.
  void windowClosed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void connectControls();
  void showRows(const PlaylistViewState& state);
  void askForPasswords(PasswordRequest request);

  std::unique_ptr<Ui::PlaylistWindow> ui_;
  PlaylistWindowController* controller_;  // not owned; null once detached
  PasswordRequest shownPasswordRequest_ = PasswordRequest::None;
};

}  // namespace app::views
