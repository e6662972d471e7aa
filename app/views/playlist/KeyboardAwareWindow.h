#pragma once
// KeyboardAwareWindow: hands the playlist keys pressed anywhere in a window to
// its delegate (the window's controller), whichever control has the focus:
// space plays, Option+space (or Shift+space, where the window manager keeps
// Alt+space for itself) cues, Option+arrows skip, K stops, P pauses,
// Command+L locks and Command+U unlocks. Option is Alt and Command is Control
// here. A key typed into a text field stays with the field; every other key
// goes on to the control as usual (the table keeps its own navigation).
//
// Watches the application's key events for one window (it is an event
// filter of the application); owned by that window (a Qt child), so it goes
// with it. GUI thread.

#include <functional>
#include <optional>

#include <QObject>

#include "app/playlist/PlaylistWindowController.h"

class QKeyEvent;
class QWidget;

namespace app::views {

// The playlist key of a key press, none for keys the window does not use.
std::optional<PlaylistKey> playlistKeyForEvent(const QKeyEvent& event);

class KeyboardAwareWindow final : public QObject {
  Q_OBJECT

 public:
  // Answers whether the delegate used the key.
  using Delegate = std::function<bool(const PlaylistKey& key)>;

  KeyboardAwareWindow(QWidget& window, Delegate delegate);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& window_;
  Delegate delegate_;
};

}  // namespace app::views
