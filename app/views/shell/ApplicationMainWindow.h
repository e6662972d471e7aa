#pragma once
// ApplicationMainWindow: the application's shell window. It carries the
// application menus (the desktop has no menu bar of its own for the
// application) and a short hint while no playlist is open.
//
// Owned by main() (or a test) on the GUI thread; the delegate must outlive it.

#include <QMainWindow>

namespace app {
class ApplicationDelegate;
}  // namespace app

namespace app::views {

class ApplicationMainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  explicit ApplicationMainWindow(ApplicationDelegate& delegate, QWidget* parent = nullptr);
};

}  // namespace app::views
