#pragma once
// ApplicationMainWindow: the start window. It carries the application menus
// and a short hint, and is shown only while no playlist is open; closing it
// quits the application (after the same questions as File > Quit).
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

  // Shows the window while no document is open, hides it otherwise.
  void followOpenDocuments();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  ApplicationDelegate& delegate_;
};

}  // namespace app::views
